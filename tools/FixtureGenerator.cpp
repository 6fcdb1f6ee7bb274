#include "FixtureGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <new>
#include <system_error>
#include <utility>

namespace sondrel::fixtures {

namespace {

constexpr int kRate = 44100;
constexpr int kHighRate = 96000;
constexpr std::size_t kLibraryFrames = 10 * kRate;
constexpr std::size_t kHighRateFrames = 10 * kHighRate;
constexpr std::size_t kTaggedFrames = 3 * kRate;
constexpr std::size_t kPictureBytes = 10 * 1024;
constexpr std::size_t kCommentChars = 300;
constexpr std::size_t kAnalysisWindowFrames = 4096;
constexpr double kMaxBenchmarkSeconds = 3600.0;

constexpr std::uint64_t kMusicSeed = 1;
constexpr std::uint64_t kHighRateSeed = 2;
constexpr std::uint64_t kShortSeed = 3;
constexpr std::uint64_t kTaggedSeed = 4;
constexpr std::uint64_t kBenchmarkSeed = 7;

[[nodiscard]] std::string codecLabel(const EncodeOptions& options)
{
    switch (options.container) {
    case Container::Wav:
        return options.sampleFormat == SampleFormat::S16 ? "pcm_s16le"
            : options.sampleFormat == SampleFormat::S24  ? "pcm_s24le"
                                                         : "pcm_f32le";
    case Container::Aiff:
        return options.sampleFormat == SampleFormat::S16 ? "pcm_s16be" : "pcm_s24be";
    case Container::Flac:
        return "flac";
    case Container::Mp3:
        return "mp3";
    case Container::M4a:
        return "aac";
    }
    return "unknown";
}

[[nodiscard]] int bitsLabel(const EncodeOptions& options)
{
    if (options.container == Container::Mp3 || options.container == Container::M4a) {
        return 0;
    }
    return options.sampleFormat == SampleFormat::S16 ? 16
        : options.sampleFormat == SampleFormat::S24  ? 24
                                                     : 32;
}

[[nodiscard]] EncodeOptions lossless(Container container, SampleFormat format = SampleFormat::S16)
{
    EncodeOptions options;
    options.container = container;
    options.sampleFormat = format;
    return options;
}

[[nodiscard]] EncodeOptions lossy(Container container, int kbps)
{
    EncodeOptions options;
    options.container = container;
    options.bitrateKbps = kbps;
    return options;
}

// A valid 1x1 grey baseline JPEG, inflated to the requested size with a comment segment so the
// APIC frame is big; image decoders probing the tag accept it without complaint.
[[nodiscard]] std::vector<std::uint8_t> coverJpeg(std::size_t size)
{
    static constexpr std::uint8_t kHead[] = { 0xFF, 0xD8, // SOI
        0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, // APP0
        0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00 };
    static constexpr std::uint8_t kTables[] = { 0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x01, 0x00, 0x01, 0x01,
        0x01, 0x11, 0x00, // SOF0 1x1 grey
                          // DC and AC tables with a single one-bit code each: DC diff 0, and end of block.
        0xFF, 0xC4, 0x00, 0x14, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0xFF, 0xC4,
        0x00, 0x14, 0x10, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0xFF, 0xDA, 0x00, 0x08,
        0x01, 0x01, 0x00, 0x00, 0x3F, 0x00, // SOS
        0x3F, // codes "0","0", 1-padded
        0xFF, 0xD9 }; // EOI
    static constexpr std::uint8_t kQuantHeader[] = { 0xFF, 0xDB, 0x00, 0x43, 0x00 }; // DQT, then 64 ones
    constexpr std::size_t kQuantBytes = sizeof(kQuantHeader) + 64;
    constexpr std::size_t kCommentHeader = 4;

    const std::size_t fixed = sizeof(kHead) + kCommentHeader + kQuantBytes + sizeof(kTables);
    const std::size_t filler = std::min<std::size_t>(size > fixed ? size - fixed : 0, 0xFFFF - 2);

    std::vector<std::uint8_t> bytes;
    bytes.reserve(fixed + filler);
    const auto put = [&bytes](std::uint8_t b) { bytes.push_back(b); };
    std::for_each(std::begin(kHead), std::end(kHead), put);
    if (filler > 0) {
        for (const std::size_t b :
            { std::size_t { 0xFF }, std::size_t { 0xFE }, (filler + 2) >> 8, (filler + 2) & 0xFF }) {
            put(static_cast<std::uint8_t>(b));
        }
        for (std::size_t i = 0; i < filler; ++i) {
            put(static_cast<std::uint8_t>('a' + i % 26));
        }
    }
    std::for_each(std::begin(kQuantHeader), std::end(kQuantHeader), put);
    for (std::size_t i = 0; i < 64; ++i) {
        put(0x01);
    }
    std::for_each(std::begin(kTables), std::end(kTables), put);
    return bytes;
}

[[nodiscard]] std::string longComment()
{
    std::string text;
    while (text.size() < kCommentChars) {
        text += "Sondrel fixture: a long comment frame placed ahead of the title frame. ";
    }
    text.resize(kCommentChars);
    return text;
}

void appendJsonString(std::string& out, std::string_view text)
{
    out += '"';
    for (const char ch : text) {
        switch (ch) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(ch) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof(escaped), "\\u%04x",
                    static_cast<unsigned>(static_cast<unsigned char>(ch)));
                out += escaped;
            } else {
                out += ch; // UTF-8 passes through unchanged
            }
        }
    }
    out += '"';
}

class LibraryWriter {
public:
    LibraryWriter(std::filesystem::path folder, std::vector<ManifestEntry>& entries)
        : m_folder(std::move(folder))
        , m_entries(entries)
    {
    }

    // Fills the format-derived fields of entry, writes the file and records it.
    [[nodiscard]] std::string write(ManifestEntry entry, const Signal& signal, const EncodeOptions& options)
    {
        entry.format = std::string(containerName(options.container));
        entry.codec = codecLabel(options);
        entry.sampleRate = signal.sampleRate;
        entry.channels = signal.channels;
        entry.frames = signal.frames();
        entry.bitsPerSample = bitsLabel(options);
        entry.bitrateKbps = options.bitrateKbps;
        if (options.bitrateKbps > 0
            && (entry.sourceBitrateKbps == 0 || options.bitrateKbps < entry.sourceBitrateKbps)) {
            entry.sourceBitrateKbps = options.bitrateKbps;
        }
        if (options.id3) {
            entry.id3Version = options.id3->version;
            entry.title = options.id3->title;
            entry.artist = options.id3->artist;
            entry.album = options.id3->album;
        }
        if (std::string err = writeAudioFile(m_folder / entry.name, signal, options); !err.empty()) {
            return entry.name + ": " + err;
        }
        m_entries.push_back(std::move(entry));
        return {};
    }

    [[nodiscard]] const std::filesystem::path& folder() const noexcept { return m_folder; }

private:
    std::filesystem::path m_folder;
    std::vector<ManifestEntry>& m_entries;
};

[[nodiscard]] ManifestEntry entry(
    std::string name, std::string kind, std::string source, std::string expectation, std::string note)
{
    ManifestEntry e;
    e.name = std::move(name);
    e.kind = std::move(kind);
    e.source = std::move(source);
    e.expectation = std::move(expectation);
    e.note = std::move(note);
    return e;
}

[[nodiscard]] std::string writeGenuine(LibraryWriter& out, const Signal& music)
{
    struct Item {
        const char* name;
        Container container;
        SampleFormat format;
    };
    const Item items[] = {
        { "stereo-44100-wav-s16-genuine.wav", Container::Wav, SampleFormat::S16 },
        { "stereo-44100-wav-f32-genuine.wav", Container::Wav, SampleFormat::F32 },
        { "stereo-44100-aiff-s16-genuine.aiff", Container::Aiff, SampleFormat::S16 },
        { "stereo-44100-flac-s16-genuine.flac", Container::Flac, SampleFormat::S16 },
        { "stereo-44100-flac-s24-genuine.flac", Container::Flac, SampleFormat::S24 },
    };
    for (const Item& item : items) {
        const auto e
            = entry(item.name, "genuine", "lossless", "pass", "full-band synthesized music, never lossy");
        if (std::string err = out.write(e, music, lossless(item.container, item.format)); !err.empty()) {
            return err;
        }
    }
    const Signal high = makeMusicLike(kHighRateFrames, kHighRate, 2, kHighRateSeed);
    return out.write(
        entry("stereo-96000-flac-s24-genuine.flac", "genuine", "lossless", "pass", "content up to 48 kHz"),
        high, lossless(Container::Flac, SampleFormat::S24));
}

[[nodiscard]] std::string writeLossy(LibraryWriter& out, const Signal& music)
{
    for (const int kbps : { 128, 192, 256, 320 }) {
        const std::string name = "stereo-44100-mp3-cbr" + std::to_string(kbps) + "-from-lossless.mp3";
        // Honest, but only LAME's 320 kbps lowpass (~20 kHz) reaches the quality bar.
        auto e = entry(name, "lossy", "lossless", kbps >= 320 ? "pass" : "fail",
            "honest MP3 encoded once from the lossless signal");
        if (std::string err = out.write(e, music, lossy(Container::Mp3, kbps)); !err.empty()) {
            return err;
        }
    }
    for (const int kbps : { 128, 256 }) {
        const std::string name = "stereo-44100-m4a-aac" + std::to_string(kbps) + "-from-lossless.m4a";
        // FFmpeg's AAC encoder keeps the full band at 256 kbps and cuts near 17 kHz at 128 kbps.
        auto e = entry(name, "lossy", "lossless", kbps >= 256 ? "pass" : "fail",
            "honest AAC encoded once from the lossless signal");
        if (std::string err = out.write(e, music, lossy(Container::M4a, kbps)); !err.empty()) {
            return err;
        }
    }
    return {};
}

[[nodiscard]] std::string writeTranscodes(LibraryWriter& out)
{
    constexpr int kSourceKbps = 128;
    const DecodedAudio mp3 = decodeToFloat(out.folder() / "stereo-44100-mp3-cbr128-from-lossless.mp3");
    if (!mp3.ok()) {
        return "decoding the 128 kbps MP3: " + mp3.error;
    }
    const std::pair<const char*, EncodeOptions> fromMp3[] = {
        { "stereo-44100-mp3-cbr320-from-mp3-cbr128.mp3", lossy(Container::Mp3, 320) },
        { "stereo-44100-flac-from-mp3-cbr128.flac", lossless(Container::Flac) },
        { "stereo-44100-wav-from-mp3-cbr128.wav", lossless(Container::Wav) },
    };
    for (const auto& [name, options] : fromMp3) {
        auto e = entry(name, "transcode", "mp3-cbr128", "fail",
            "decoded 128 kbps MP3 re-encoded; real bandwidth is that of 128 kbps");
        e.sourceBitrateKbps = kSourceKbps;
        if (std::string err = out.write(e, mp3.signal, options); !err.empty()) {
            return err;
        }
    }

    const DecodedAudio aac = decodeToFloat(out.folder() / "stereo-44100-m4a-aac128-from-lossless.m4a");
    if (!aac.ok()) {
        return "decoding the 128 kbps AAC: " + aac.error;
    }
    auto e = entry("stereo-44100-flac-from-m4a-aac128.flac", "transcode", "m4a-aac128", "fail",
        "decoded 128 kbps AAC stored as FLAC (keeps the AAC end padding)");
    e.sourceBitrateKbps = kSourceKbps;
    return out.write(e, aac.signal, lossless(Container::Flac));
}

[[nodiscard]] std::string writeEdgeCases(LibraryWriter& out)
{
    const Signal clipped = makeClipped(kLibraryFrames, kRate, 2, kMusicSeed);
    auto clippedEntry = entry("stereo-44100-wav-clipped.wav", "clipped", "lossless", "pass",
        "music driven 6x into hard clipping; many samples at full scale");
    clippedEntry.issues = { "clipping" };
    if (std::string err = out.write(clippedEntry, clipped, lossless(Container::Wav)); !err.empty()) {
        return err;
    }

    for (const std::size_t frames :
        { std::size_t { 4095 }, std::size_t { 4096 }, std::size_t { 10000 }, std::size_t { 49152 } }) {
        const Signal shortSignal = makeMusicLike(frames, kRate, 1, kShortSeed);
        const std::string name = "mono-44100-wav-" + std::to_string(frames) + "-frames.wav";
        const bool belowOneWindow = frames < kAnalysisWindowFrames;
        auto e = entry(name, "short", "lossless", belowOneWindow ? "error" : "pass",
            belowOneWindow ? "one frame short of a 4096-point analysis window"
                           : "exact frame count around analysis window sizes");
        if (belowOneWindow) {
            e.issues = { "too-short" };
        }
        if (std::string err = out.write(e, shortSignal, lossless(Container::Wav)); !err.empty()) {
            return err;
        }
    }

    auto silenceEntry = entry("stereo-44100-wav-silence.wav", "silence", "lossless", "error",
        "every sample is zero, so there is no bandwidth to show");
    silenceEntry.issues = { "silence" };
    if (std::string err
        = out.write(silenceEntry, makeSilence(kLibraryFrames, kRate, 2), lossless(Container::Wav));
        !err.empty()) {
        return err;
    }

    auto silentLeftEntry = entry("stereo-44100-wav-silent-left.wav", "silent-channel", "lossless", "pass",
        "channel 0 is digital silence, channel 1 is full-band music");
    silentLeftEntry.issues = { "silent-channel" };
    return out.write(
        silentLeftEntry, makeSilentLeft(kLibraryFrames, kRate, 2, kMusicSeed), lossless(Container::Wav));
}

[[nodiscard]] std::string writeTagged(LibraryWriter& out)
{
    const Signal music = makeMusicLike(kTaggedFrames, kRate, 2, kTaggedSeed);

    EncodeOptions v23 = lossy(Container::Mp3, 320);
    // Non-ASCII text makes FFmpeg pick UTF-16 for v2.3 and UTF-8 for v2.4.
    v23.id3 = Id3Tags { 3, "Fixture Title v2.3 \xC3\xA9", "Sondrel Test Artist", "Sondrel Fixtures", {}, {} };
    if (std::string err = out.write(entry("stereo-44100-mp3-cbr320-id3v23.mp3", "tagged", "lossless", "pass",
                                        "ID3v2.3 with title, artist, album"),
            music, v23);
        !err.empty()) {
        return err;
    }

    EncodeOptions v24 = lossy(Container::Mp3, 320);
    v24.id3 = Id3Tags { 4, "Fixture Title v2.4 \xC3\xA9", "Sondrel Test Artist", "Sondrel Fixtures", {}, {} };
    if (std::string err = out.write(entry("stereo-44100-mp3-cbr320-id3v24.mp3", "tagged", "lossless", "pass",
                                        "ID3v2.4 with title, artist, album"),
            music, v24);
        !err.empty()) {
        return err;
    }

    EncodeOptions big = lossy(Container::Mp3, 320);
    big.id3 = Id3Tags { 4, "Fixture Title Big Frames", "Sondrel Test Artist", "Sondrel Fixtures",
        longComment(), coverJpeg(kPictureBytes) };
    if (std::string err
        = out.write(entry("stereo-44100-mp3-cbr320-id3v24-big-frames.mp3", "tagged", "lossless", "pass",
                        "ID3v2.4 by FFmpeg: TXXX comment (300 chars), TIT2, TPE1, TALB, APIC (10 KB)"),
            music, big);
        !err.empty()) {
        return err;
    }

    EncodeOptions pictureFirst = big;
    pictureFirst.id3->title = "Fixture Title Picture First";
    pictureFirst.id3->pictureBeforeText = true;
    return out.write(entry("stereo-44100-mp3-cbr320-id3v24-apic-first.mp3", "tagged", "lossless", "pass",
                         "ID3v2.4 built by hand: APIC (10 KB), COMM (300 chars), TIT2, TPE1, TALB"),
        music, pictureFirst);
}

[[nodiscard]] std::string buildManifestJson(const std::vector<ManifestEntry>& entries)
{
    std::string out = "[\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ManifestEntry& e = entries[i];
        const auto field = [&out](std::string_view key, std::string_view value) {
            appendJsonString(out, key);
            out += ": ";
            appendJsonString(out, value);
            out += ", ";
        };
        const auto number = [&out](std::string_view key, auto value) {
            appendJsonString(out, key);
            out += ": " + std::to_string(value) + ", ";
        };
        out += "  {";
        field("name", e.name);
        field("kind", e.kind);
        field("format", e.format);
        field("codec", e.codec);
        number("sampleRate", e.sampleRate);
        number("channels", e.channels);
        number("frames", e.frames);
        number("bitsPerSample", e.bitsPerSample);
        number("bitrateKbps", e.bitrateKbps);
        field("source", e.source);
        number("sourceBitrateKbps", e.sourceBitrateKbps);
        field("expectation", e.expectation);
        out += "\"issues\": [";
        for (std::size_t k = 0; k < e.issues.size(); ++k) {
            appendJsonString(out, e.issues[k]);
            out += k + 1 < e.issues.size() ? ", " : "";
        }
        out += "], ";
        number("id3Version", e.id3Version);
        field("title", e.title);
        field("artist", e.artist);
        field("album", e.album);
        appendJsonString(out, "note");
        out += ": ";
        appendJsonString(out, e.note);
        out += i + 1 < entries.size() ? "},\n" : "}\n";
    }
    out += "]\n";
    return out;
}

[[nodiscard]] std::string writeManifest(
    const std::filesystem::path& folder, const std::vector<ManifestEntry>& entries)
{
    const std::filesystem::path path = folder / kManifestFileName;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        return "cannot create " + path.string();
    }
    file << buildManifestJson(entries);
    file.close();
    return file ? std::string() : "cannot write " + path.string();
}

} // namespace

std::string manifestToJson(const std::vector<ManifestEntry>& entries) noexcept
{
    try {
        return buildManifestJson(entries);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

std::string generateLibrary(const std::filesystem::path& folder, std::vector<ManifestEntry>& entries) noexcept
{
    try {
        entries.clear();
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            return "cannot create " + folder.string() + ": " + ec.message();
        }
        for (const Container c :
            { Container::Wav, Container::Aiff, Container::Flac, Container::Mp3, Container::M4a }) {
            if (!encoderAvailable(c)) {
                return "this FFmpeg build has no encoder for " + std::string(containerName(c));
            }
        }

        LibraryWriter out(folder, entries);
        const Signal music = makeMusicLike(kLibraryFrames, kRate, 2, kMusicSeed);
        if (music.frames() != kLibraryFrames) {
            return "out of memory";
        }
        // Transcodes read back files written by writeLossy, so the order matters.
        for (auto step : { writeGenuine, writeLossy }) {
            if (std::string err = step(out, music); !err.empty()) {
                return err;
            }
        }
        for (auto step : { writeTranscodes, writeEdgeCases, writeTagged }) {
            if (std::string err = step(out); !err.empty()) {
                return err;
            }
        }
        return writeManifest(folder, entries);
    } catch (const std::exception& e) {
        return std::string("unexpected failure: ") + e.what();
    } catch (...) {
        return "unexpected failure";
    }
}

std::string writeBenchmarkFile(
    const std::filesystem::path& path, std::string_view format, double seconds) noexcept
{
    try {
        if (!(seconds > 0.0) || seconds > kMaxBenchmarkSeconds) {
            return "seconds must be in (0, 3600]";
        }
        const std::optional<Container> container = parseContainer(format);
        if (!container) {
            return "unknown format '" + std::string(format) + "' (expected wav, aiff, flac, mp3 or m4a)";
        }
        EncodeOptions options = lossless(*container);
        if (*container == Container::Mp3) {
            options = lossy(Container::Mp3, 320);
        } else if (*container == Container::M4a) {
            options = lossy(Container::M4a, 256);
        }
        const auto frames = static_cast<std::size_t>(std::llround(seconds * kRate));
        if (frames == 0) {
            return "seconds is shorter than one sample";
        }
        const Signal music = makeMusicLike(frames, kRate, 2, kBenchmarkSeed);
        if (music.frames() != frames) {
            return "out of memory";
        }
        return writeAudioFile(path, music, options);
    } catch (const std::exception& e) {
        return std::string("unexpected failure: ") + e.what();
    } catch (...) {
        return "unexpected failure";
    }
}

} // namespace sondrel::fixtures
