#include "Id3FixtureTag.h"

#include <fstream>
#include <iterator>
#include <string_view>

namespace sondrel::fixtures::detail {

namespace {

constexpr std::uint8_t kUtf8 = 0x03;
constexpr std::uint8_t kLatin1 = 0x00;
constexpr std::uint8_t kFrontCover = 0x03;

void appendSyncsafe(std::vector<std::uint8_t>& out, std::size_t value)
{
    for (int shift = 21; shift >= 0; shift -= 7) {
        out.push_back(static_cast<std::uint8_t>((value >> shift) & 0x7F));
    }
}

void appendText(std::vector<std::uint8_t>& out, std::string_view text, bool terminate)
{
    out.insert(out.end(), text.begin(), text.end());
    if (terminate) {
        out.push_back(0);
    }
}

void appendFrame(std::vector<std::uint8_t>& tag, std::string_view id, const std::vector<std::uint8_t>& body)
{
    appendText(tag, id, false);
    appendSyncsafe(tag, body.size());
    tag.push_back(0); // status flags
    tag.push_back(0); // format flags
    tag.insert(tag.end(), body.begin(), body.end());
}

void appendTextFrame(std::vector<std::uint8_t>& tag, std::string_view id, std::string_view text)
{
    if (text.empty()) {
        return;
    }
    std::vector<std::uint8_t> body { kUtf8 };
    appendText(body, text, false);
    appendFrame(tag, id, body);
}

} // namespace

std::vector<std::uint8_t> buildId3v24Tag(const Id3Tags& tags)
{
    std::vector<std::uint8_t> frames;
    if (!tags.attachedPictureBytes.empty()) {
        std::vector<std::uint8_t> body { kLatin1 };
        appendText(body, "image/jpeg", true);
        body.push_back(kFrontCover);
        body.push_back(0); // empty description
        body.insert(body.end(), tags.attachedPictureBytes.begin(), tags.attachedPictureBytes.end());
        appendFrame(frames, "APIC", body);
    }
    if (!tags.comment.empty()) {
        std::vector<std::uint8_t> body { kUtf8 };
        appendText(body, "eng", false);
        body.push_back(0); // empty short description
        appendText(body, tags.comment, false);
        appendFrame(frames, "COMM", body);
    }
    appendTextFrame(frames, "TIT2", tags.title);
    appendTextFrame(frames, "TPE1", tags.artist);
    appendTextFrame(frames, "TALB", tags.album);

    std::vector<std::uint8_t> tag { 'I', 'D', '3', 4, 0, 0 };
    appendSyncsafe(tag, frames.size());
    tag.insert(tag.end(), frames.begin(), frames.end());
    return tag;
}

std::string prependToFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& prefix)
{
    std::vector<char> contents;
    {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            return "cannot reopen " + path.string();
        }
        contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(prefix.data()), static_cast<std::streamsize>(prefix.size()));
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    out.close();
    return out ? std::string() : "cannot rewrite " + path.string();
}

} // namespace sondrel::fixtures::detail
