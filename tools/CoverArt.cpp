#include "CoverArt.h"

#include "AudioIo.h"
#include "FFmpegPtr.h"

#include <system_error>

namespace sondrel::fixtures {

using namespace sondrel::core::ffmpeg;

namespace {

std::string remux(const std::filesystem::path& source, const std::filesystem::path& target,
    std::span<const std::uint8_t> jpeg, int width, int height)
{
    AVFormatContext* rawInput = nullptr;
    if (const int status = avformat_open_input(&rawInput, source.c_str(), nullptr, nullptr); status < 0)
        return "open " + source.string() + ": " + errorText(status);
    const FormatInputPtr input(rawInput);
    if (const int status = avformat_find_stream_info(input.get(), nullptr); status < 0)
        return "stream info: " + errorText(status);
    const int audio = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (audio < 0)
        return "no audio stream";

    AVFormatContext* rawOutput = nullptr;
    if (const int status = avformat_alloc_output_context2(&rawOutput, nullptr, "ipod", target.c_str()); status < 0)
        return "output: " + errorText(status);
    const FormatOutputPtr output(rawOutput);

    AVStream* audioOut = avformat_new_stream(output.get(), nullptr);
    AVStream* cover = avformat_new_stream(output.get(), nullptr);
    if (audioOut == nullptr || cover == nullptr)
        return "out of memory";
    if (avcodec_parameters_copy(audioOut->codecpar, input->streams[audio]->codecpar) < 0)
        return "codec parameters";
    audioOut->codecpar->codec_tag = 0;
    audioOut->time_base = input->streams[audio]->time_base;
    cover->disposition = AV_DISPOSITION_ATTACHED_PIC;
    cover->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    cover->codecpar->codec_id = AV_CODEC_ID_MJPEG;
    cover->codecpar->width = width;
    cover->codecpar->height = height;
    cover->time_base = { 1, 90000 };

    if (const int status = avio_open(&output->pb, target.c_str(), AVIO_FLAG_WRITE); status < 0)
        return "create " + target.string() + ": " + errorText(status);
    if (const int status = avformat_write_header(output.get(), nullptr); status < 0)
        return "header: " + errorText(status);

    const PacketPtr picture(av_packet_alloc());
    if (!picture || av_new_packet(picture.get(), static_cast<int>(jpeg.size())) < 0)
        return "out of memory";
    std::copy(jpeg.begin(), jpeg.end(), picture->data);
    picture->stream_index = cover->index;
    picture->flags |= AV_PKT_FLAG_KEY;
    if (const int status = av_write_frame(output.get(), picture.get()); status < 0)
        return "cover: " + errorText(status);

    const PacketPtr packet(av_packet_alloc());
    if (!packet)
        return "out of memory";
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == audio) {
            av_packet_rescale_ts(packet.get(), input->streams[audio]->time_base, audioOut->time_base);
            packet->stream_index = audioOut->index;
            packet->pos = -1;
            if (const int status = av_interleaved_write_frame(output.get(), packet.get()); status < 0)
                return "audio: " + errorText(status);
        }
        av_packet_unref(packet.get());
    }
    if (const int status = av_write_trailer(output.get()); status < 0)
        return "trailer: " + errorText(status);
    return {};
}

} // namespace

std::string writeWithCoverArt(const std::filesystem::path& source, const std::filesystem::path& target,
    std::span<const std::uint8_t> jpeg, int width, int height) noexcept
{
    quietFfmpegLogging();
    std::string error;
    try {
        error = remux(source, target, jpeg, width, height);
    } catch (...) {
        error = "out of memory";
    }
    if (!error.empty()) {
        std::error_code ec;
        std::filesystem::remove(target, ec);
    }
    return error;
}

} // namespace sondrel::fixtures
