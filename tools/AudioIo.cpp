// What the fixture writer and reader share: container names, encoder checks, FFmpeg's logging.
// The writer is FixtureEncoder.cpp, the reader FixtureDecoder.cpp.
#include "AudioIo.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace sondrel::fixtures {

void quietFfmpegLogging() noexcept
{
    av_log_set_level(AV_LOG_ERROR);
}

std::string_view containerName(Container container) noexcept
{
    switch (container) {
    case Container::Wav:
        return "wav";
    case Container::Aiff:
        return "aiff";
    case Container::Flac:
        return "flac";
    case Container::Mp3:
        return "mp3";
    case Container::M4a:
        return "m4a";
    }
    return "unknown";
}

std::string_view fileExtension(Container container) noexcept
{
    switch (container) {
    case Container::Wav:
        return ".wav";
    case Container::Aiff:
        return ".aiff";
    case Container::Flac:
        return ".flac";
    case Container::Mp3:
        return ".mp3";
    case Container::M4a:
        return ".m4a";
    }
    return "";
}

std::optional<Container> parseContainer(std::string_view name) noexcept
{
    for (const Container c :
        { Container::Wav, Container::Aiff, Container::Flac, Container::Mp3, Container::M4a }) {
        if (name == containerName(c)) {
            return c;
        }
    }
    if (name == "aif") {
        return Container::Aiff;
    }
    return std::nullopt;
}

bool encoderAvailable(Container container) noexcept
{
    switch (container) {
    case Container::Wav:
    case Container::Aiff:
        return avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE) != nullptr;
    case Container::Flac:
        return avcodec_find_encoder(AV_CODEC_ID_FLAC) != nullptr;
    case Container::Mp3:
        return avcodec_find_encoder_by_name("libmp3lame") != nullptr;
    case Container::M4a:
        return avcodec_find_encoder_by_name("aac") != nullptr;
    }
    return false;
}

} // namespace sondrel::fixtures
