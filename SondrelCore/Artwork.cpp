#include "Artwork.h"

#include "FFmpegPtr.h"

#include <system_error>

namespace sondrel::core {

std::optional<std::vector<std::uint8_t>> readAttachedPicture(const std::filesystem::path& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return std::nullopt;
    av_log_set_level(AV_LOG_QUIET);

    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* raw = nullptr;
    // The "file:" prefix keeps a name like "a:b.mp3" from being taken for a protocol.
    const std::string url = "file:" + path.string();
    const int status = avformat_open_input(&raw, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (status < 0)
        return std::nullopt;
    const ffmpeg::FormatInputPtr format(raw);

    // Demuxers hand the picture over as the stream's attached packet while reading the header,
    // so no packet needs to be read.
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        const AVPacket& picture = stream->attached_pic;
        if (picture.size <= 0 || picture.data == nullptr)
            continue;
        return std::vector<std::uint8_t>(picture.data, picture.data + picture.size);
    }
    return std::nullopt;
}

} // namespace sondrel::core
