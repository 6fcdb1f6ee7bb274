// The fixture reader: decodes any file FFmpeg can read to interleaved float.
#include "AudioIo.h"

#include "FFmpegPtr.h"

#include <exception>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

namespace sondrel::fixtures {

namespace {

using namespace sondrel::core::ffmpeg;

// Appends one decoded frame to interleaved float output.
[[nodiscard]] bool appendFrame(const AVFrame* frame, std::vector<float>& out)
{
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const int channels = frame->ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const auto count = static_cast<std::size_t>(frame->nb_samples);
    const std::size_t base = out.size();
    out.resize(base + count * static_cast<std::size_t>(channels));

    const auto read = [&](auto tag, auto toFloat) {
        using T = decltype(tag);
        for (int c = 0; c < channels; ++c) {
            const T* plane = reinterpret_cast<const T*>(frame->extended_data[planar ? c : 0]);
            const std::size_t stride = planar ? 1 : static_cast<std::size_t>(channels);
            const std::size_t offset = planar ? 0 : static_cast<std::size_t>(c);
            for (std::size_t i = 0; i < count; ++i) {
                out[base + i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)]
                    = toFloat(plane[i * stride + offset]);
            }
        }
    };
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
        read(std::uint8_t {},
            [](std::uint8_t v) { return static_cast<float>(static_cast<int>(v) - 128) / 128.0f; });
        return true;
    case AV_SAMPLE_FMT_S16:
        read(std::int16_t {}, [](std::int16_t v) { return static_cast<float>(v) / 32768.0f; });
        return true;
    case AV_SAMPLE_FMT_S32:
        read(std::int32_t {},
            [](std::int32_t v) { return static_cast<float>(static_cast<double>(v) / 2147483648.0); });
        return true;
    case AV_SAMPLE_FMT_S64:
        read(std::int64_t {}, [](std::int64_t v) {
            return static_cast<float>(static_cast<double>(v) / 9223372036854775808.0);
        });
        return true;
    case AV_SAMPLE_FMT_FLT:
        read(float {}, [](float v) { return v; });
        return true;
    case AV_SAMPLE_FMT_DBL:
        read(double {}, [](double v) { return static_cast<float>(v); });
        return true;
    default:
        return false;
    }
}

class Decoder {
public:
    [[nodiscard]] std::string run(const std::filesystem::path& path, Signal& out);

private:
    [[nodiscard]] std::string drain(Signal& out);

    FormatInputPtr m_input;
    CodecContextPtr m_codec;
    FramePtr m_frame;
};

std::string Decoder::drain(Signal& out)
{
    for (;;) {
        const int ret = avcodec_receive_frame(m_codec.get(), m_frame.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) {
            return {};
        }
        if (ret < 0) {
            return "decoding failed: " + errorText(ret);
        }
        if (m_frame->ch_layout.nb_channels != out.channels) {
            av_frame_unref(m_frame.get());
            return "channel count changed mid-stream";
        }
        const bool converted = appendFrame(m_frame.get(), out.samples);
        av_frame_unref(m_frame.get());
        if (!converted) {
            return "unsupported decoded sample format";
        }
    }
}

std::string Decoder::run(const std::filesystem::path& path, Signal& out)
{
    const std::string pathText = path.string();
    AVFormatContext* rawInput = nullptr;
    if (const int ret = avformat_open_input(&rawInput, pathText.c_str(), nullptr, nullptr); ret < 0) {
        return "cannot open " + pathText + ": " + errorText(ret);
    }
    m_input.reset(rawInput);
    if (const int ret = avformat_find_stream_info(m_input.get(), nullptr); ret < 0) {
        return "cannot read stream info: " + errorText(ret);
    }
    const AVCodec* decoder = nullptr;
    const int streamIndex = av_find_best_stream(m_input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (streamIndex < 0 || decoder == nullptr) {
        return "no decodable audio stream in " + pathText;
    }
    const AVStream* stream = m_input->streams[streamIndex];

    CodecContextPtr codec(avcodec_alloc_context3(decoder));
    if (!codec) {
        return "out of memory";
    }
    if (const int ret = avcodec_parameters_to_context(codec.get(), stream->codecpar); ret < 0) {
        return "cannot copy stream parameters: " + errorText(ret);
    }
    codec->pkt_timebase = stream->time_base;
    if (const int ret = avcodec_open2(codec.get(), decoder, nullptr); ret < 0) {
        return std::string("cannot open decoder ") + decoder->name + ": " + errorText(ret);
    }
    m_codec = std::move(codec);

    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!frame || !packet) {
        return "out of memory";
    }
    m_frame = std::move(frame);

    out = Signal {};
    out.sampleRate = m_codec->sample_rate;
    out.channels = m_codec->ch_layout.nb_channels;
    if (out.channels <= 0 || out.sampleRate <= 0) {
        return "stream has no channel count or sample rate";
    }

    for (;;) {
        const int ret = av_read_frame(m_input.get(), packet.get());
        if (ret == AVERROR_EOF) {
            break;
        }
        if (ret < 0) {
            return "cannot read packet: " + errorText(ret);
        }
        if (packet->stream_index == streamIndex) {
            const int sent = avcodec_send_packet(m_codec.get(), packet.get());
            av_packet_unref(packet.get());
            if (sent < 0 && sent != AVERROR_INVALIDDATA) {
                return "decoder rejected packet: " + errorText(sent);
            }
            if (std::string err = drain(out); !err.empty()) {
                return err;
            }
        } else {
            av_packet_unref(packet.get());
        }
    }
    if (const int ret = avcodec_send_packet(m_codec.get(), nullptr); ret < 0) {
        return "cannot flush decoder: " + errorText(ret);
    }
    return drain(out);
}

} // namespace

DecodedAudio decodeToFloat(const std::filesystem::path& path) noexcept
{
    quietFfmpegLogging();
    DecodedAudio result;
    try {
        Decoder decoder;
        result.error = decoder.run(path, result.signal);
    } catch (const std::exception& e) {
        result.error = std::string("unexpected failure: ") + e.what();
    } catch (...) {
        result.error = "unexpected failure";
    }
    if (!result.error.empty()) {
        result.signal.samples.clear();
    }
    return result;
}

} // namespace sondrel::fixtures
