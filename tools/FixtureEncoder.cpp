// The fixture writer: encodes a signal with FFmpeg and muxes it, with ID3 tags for MP3.
#include "AudioIo.h"

#include "FFmpegPtr.h"
#include "Id3FixtureTag.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <system_error>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

namespace sondrel::fixtures {

namespace {

using namespace detail;
using namespace sondrel::core::ffmpeg;

// Chunk size for encoders that accept any frame size (PCM).
constexpr int kVariableChunkFrames = 4096;
constexpr int kMaxChannels = 8;
// Far below the 256 MiB an ID3v2 size field can hold.
constexpr std::size_t kMaxTagPayloadBytes = 64u << 20;

struct CodecChoice {
    const AVCodec* codec = nullptr;
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_NONE;
    int bitsPerRawSample = 0; // 24 when s32 carries 24-bit audio
    const char* muxer = nullptr;
};

[[nodiscard]] bool codecSupportsFormat(const AVCodec* codec, AVSampleFormat format) noexcept
{
    if (codec->sample_fmts == nullptr) {
        return true;
    }
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
        if (*f == format) {
            return true;
        }
    }
    return false;
}

[[nodiscard]] std::string chooseCodec(const EncodeOptions& options, CodecChoice& out)
{
    AVCodecID pcmId = AV_CODEC_ID_NONE;
    switch (options.container) {
    case Container::Wav:
        out.muxer = "wav";
        pcmId = options.sampleFormat == SampleFormat::S16 ? AV_CODEC_ID_PCM_S16LE
            : options.sampleFormat == SampleFormat::S24   ? AV_CODEC_ID_PCM_S24LE
                                                          : AV_CODEC_ID_PCM_F32LE;
        break;
    case Container::Aiff:
        out.muxer = "aiff";
        if (options.sampleFormat == SampleFormat::F32) {
            return "AIFF output supports S16 and S24 only";
        }
        pcmId = options.sampleFormat == SampleFormat::S16 ? AV_CODEC_ID_PCM_S16BE : AV_CODEC_ID_PCM_S24BE;
        break;
    case Container::Flac:
        out.muxer = "flac";
        if (options.sampleFormat == SampleFormat::F32) {
            return "FLAC output supports S16 and S24 only";
        }
        out.codec = avcodec_find_encoder(AV_CODEC_ID_FLAC);
        out.sampleFormat = options.sampleFormat == SampleFormat::S16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S32;
        out.bitsPerRawSample = options.sampleFormat == SampleFormat::S24 ? 24 : 0;
        break;
    case Container::Mp3:
        out.muxer = "mp3";
        out.codec = avcodec_find_encoder_by_name("libmp3lame");
        out.sampleFormat = AV_SAMPLE_FMT_FLTP;
        break;
    case Container::M4a:
        out.muxer = options.adts ? "adts" : "ipod";
        out.codec = avcodec_find_encoder_by_name("aac");
        out.sampleFormat = AV_SAMPLE_FMT_FLTP;
        break;
    }
    if (pcmId != AV_CODEC_ID_NONE) {
        out.codec = avcodec_find_encoder(pcmId);
        if (out.codec != nullptr && out.codec->sample_fmts != nullptr) {
            out.sampleFormat = out.codec->sample_fmts[0];
        }
        if (options.sampleFormat == SampleFormat::S24) {
            out.bitsPerRawSample = 24;
        }
    }
    if (out.codec == nullptr) {
        return std::string("no FFmpeg encoder for ") + std::string(containerName(options.container));
    }
    if (!codecSupportsFormat(out.codec, out.sampleFormat)) {
        if (options.container == Container::Mp3 || options.container == Container::M4a) {
            out.sampleFormat = out.codec->sample_fmts[0];
        } else {
            return std::string("encoder ") + out.codec->name + " lacks the needed sample format";
        }
    }
    return {};
}

template <typename T, typename Convert>
void storeSamples(AVFrame* frame, const Signal& signal, std::size_t start, std::size_t count, Convert convert)
{
    const int channels = signal.channels;
    const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame->format)) != 0;
    const auto total = static_cast<std::size_t>(frame->nb_samples);
    for (int c = 0; c < channels; ++c) {
        T* plane = reinterpret_cast<T*>(frame->extended_data[planar ? c : 0]);
        const std::size_t stride = planar ? 1 : static_cast<std::size_t>(channels);
        const std::size_t offset = planar ? 0 : static_cast<std::size_t>(c);
        for (std::size_t i = 0; i < total; ++i) {
            // Frames past the signal end are silence padding for fixed-frame-size encoders.
            const float v = i < count
                ? signal
                      .samples[(start + i) * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)]
                : 0.0f;
            plane[i * stride + offset] = convert(v);
        }
    }
}

[[nodiscard]] std::int32_t quantize(float value, double scale, double lo, double hi) noexcept
{
    return static_cast<std::int32_t>(
        std::clamp(std::floor(static_cast<double>(value) * scale + 0.5), lo, hi));
}

[[nodiscard]] bool fillFrame(
    AVFrame* frame, const Signal& signal, std::size_t start, std::size_t count, int bitsPerRawSample)
{
    switch (av_get_packed_sample_fmt(static_cast<AVSampleFormat>(frame->format))) {
    case AV_SAMPLE_FMT_S16:
        storeSamples<std::int16_t>(frame, signal, start, count,
            [](float v) { return static_cast<std::int16_t>(quantize(v, 32768.0, -32768.0, 32767.0)); });
        return true;
    case AV_SAMPLE_FMT_S32:
        if (bitsPerRawSample == 24) {
            // FFmpeg keeps 24-bit audio MSB-aligned in s32.
            storeSamples<std::int32_t>(frame, signal, start, count, [](float v) {
                return static_cast<std::int32_t>(quantize(v, 8388608.0, -8388608.0, 8388607.0) * 256);
            });
        } else {
            storeSamples<std::int32_t>(frame, signal, start, count,
                [](float v) { return quantize(v, 2147483648.0, -2147483648.0, 2147483647.0); });
        }
        return true;
    case AV_SAMPLE_FMT_FLT:
        storeSamples<float>(frame, signal, start, count, [](float v) { return v; });
        return true;
    case AV_SAMPLE_FMT_DBL:
        storeSamples<double>(frame, signal, start, count, [](float v) { return static_cast<double>(v); });
        return true;
    default:
        return false;
    }
}

[[nodiscard]] std::string setDictionary(DictionaryPtr& dict, const char* key, const std::string& value)
{
    AVDictionary* raw = dict.release();
    const int ret = av_dict_set(&raw, key, value.c_str(), 0);
    dict.reset(raw);
    return ret < 0 ? std::string("cannot set ") + key + ": " + errorText(ret) : std::string();
}

[[nodiscard]] std::string setMetadata(AVFormatContext* format, const char* key, const std::string& value)
{
    if (value.empty()) {
        return {};
    }
    const int ret = av_dict_set(&format->metadata, key, value.c_str(), 0);
    return ret < 0 ? std::string("cannot set metadata ") + key + ": " + errorText(ret) : std::string();
}

class Encoder {
public:
    Encoder(const Signal& signal, const EncodeOptions& options)
        : m_signal(signal)
        , m_options(options)
    {
    }

    [[nodiscard]] std::string run(const std::filesystem::path& path);
    [[nodiscard]] bool fileOpened() const noexcept { return m_fileOpened; }

private:
    [[nodiscard]] bool handBuiltTag() const noexcept
    {
        return m_options.id3 && m_options.id3->pictureBeforeText;
    }
    [[nodiscard]] std::string validate() const;
    [[nodiscard]] std::string openEncoder(const CodecChoice& choice);
    [[nodiscard]] std::string addPictureStream();
    [[nodiscard]] std::string writeHeader();
    [[nodiscard]] std::string writePicture();
    [[nodiscard]] std::string encodeAll();
    [[nodiscard]] std::string sendFrame(const AVFrame* frame);

    const Signal& m_signal;
    const EncodeOptions& m_options;
    FormatOutputPtr m_format;
    CodecContextPtr m_codec;
    PacketPtr m_packet;
    AVStream* m_audioStream = nullptr; // owned by m_format
    AVStream* m_pictureStream = nullptr; // owned by m_format
    bool m_fileOpened = false;
};

std::string Encoder::validate() const
{
    if (m_signal.channels <= 0 || m_signal.channels > kMaxChannels || m_signal.sampleRate <= 0) {
        return "signal has an invalid channel count or sample rate";
    }
    if (m_signal.samples.size() % static_cast<std::size_t>(m_signal.channels) != 0) {
        return "signal sample count is not a multiple of the channel count";
    }
    const bool lossy = m_options.container == Container::Mp3 || m_options.container == Container::M4a;
    if (lossy && m_options.bitrateKbps <= 0 && m_options.vbrQuality < 0) {
        return "lossy output needs bitrateKbps > 0";
    }
    if (m_options.id3 && m_options.container != Container::Mp3) {
        return "ID3 tags are only supported for MP3";
    }
    if (m_options.id3) {
        const Id3Tags& tags = *m_options.id3;
        if (tags.version != 3 && tags.version != 4) {
            return "ID3 version must be 3 or 4";
        }
        if (tags.pictureBeforeText && tags.version != 4) {
            return "pictureBeforeText needs ID3v2.4";
        }
        if (tags.attachedPictureBytes.size() + tags.comment.size() + tags.title.size() + tags.artist.size()
                + tags.album.size()
            > kMaxTagPayloadBytes) {
            return "ID3 tag data is too large";
        }
    }
    return {};
}

std::string Encoder::run(const std::filesystem::path& path)
{
    if (std::string err = validate(); !err.empty()) {
        return err;
    }
    CodecChoice choice;
    if (std::string err = chooseCodec(m_options, choice); !err.empty()) {
        return err;
    }

    AVFormatContext* rawFormat = nullptr;
    const std::string pathText = path.string();
    if (const int ret = avformat_alloc_output_context2(&rawFormat, nullptr, choice.muxer, pathText.c_str());
        ret < 0) {
        return "cannot create " + std::string(choice.muxer) + " muxer: " + errorText(ret);
    }
    m_format.reset(rawFormat);
    // Keeps FFmpeg version strings out of the files: they change only when encoder output does.
    m_format->flags |= AVFMT_FLAG_BITEXACT;

    if (std::string err = openEncoder(choice); !err.empty()) {
        return err;
    }
    if (std::string err = addPictureStream(); !err.empty()) {
        return err;
    }

    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        return "out of memory";
    }
    m_packet = std::move(packet);

    if (const int ret = avio_open(&m_format->pb, pathText.c_str(), AVIO_FLAG_WRITE); ret < 0) {
        return "cannot open " + pathText + " for writing: " + errorText(ret);
    }
    m_fileOpened = true;

    if (std::string err = writeHeader(); !err.empty()) {
        return err;
    }
    if (std::string err = writePicture(); !err.empty()) {
        return err;
    }
    if (std::string err = encodeAll(); !err.empty()) {
        return err;
    }
    if (const int ret = av_write_trailer(m_format.get()); ret < 0) {
        return "cannot finish file: " + errorText(ret);
    }
    if (const int ret = avio_closep(&m_format->pb); ret < 0) {
        return "cannot close file: " + errorText(ret);
    }
    if (handBuiltTag()) {
        return prependToFile(path, buildId3v24Tag(*m_options.id3));
    }
    return {};
}

std::string Encoder::openEncoder(const CodecChoice& choice)
{
    CodecContextPtr codec(avcodec_alloc_context3(choice.codec));
    if (!codec) {
        return "out of memory";
    }
    codec->sample_rate = m_signal.sampleRate;
    codec->sample_fmt = choice.sampleFormat;
    codec->time_base = AVRational { 1, m_signal.sampleRate };
    codec->flags |= AV_CODEC_FLAG_BITEXACT;
    av_channel_layout_default(&codec->ch_layout, m_signal.channels);
    if (choice.bitsPerRawSample > 0) {
        codec->bits_per_raw_sample = choice.bitsPerRawSample;
    }
    if (m_options.vbrQuality >= 0) {
        codec->flags |= AV_CODEC_FLAG_QSCALE;
        codec->global_quality = FF_QP2LAMBDA * m_options.vbrQuality;
    } else if (m_options.bitrateKbps > 0) {
        codec->bit_rate = static_cast<std::int64_t>(m_options.bitrateKbps) * 1000;
    }
    if ((m_format->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (const int ret = avcodec_open2(codec.get(), choice.codec, nullptr); ret < 0) {
        return std::string("cannot open encoder ") + choice.codec->name + " ("
            + std::to_string(m_signal.sampleRate) + " Hz, " + std::to_string(m_signal.channels)
            + " ch): " + errorText(ret);
    }
    m_codec = std::move(codec);

    m_audioStream = avformat_new_stream(m_format.get(), nullptr);
    if (m_audioStream == nullptr) {
        return "cannot add audio stream";
    }
    m_audioStream->time_base = m_codec->time_base;
    if (const int ret = avcodec_parameters_from_context(m_audioStream->codecpar, m_codec.get()); ret < 0) {
        return "cannot copy encoder parameters: " + errorText(ret);
    }
    return {};
}

std::string Encoder::addPictureStream()
{
    if (!m_options.id3 || m_options.id3->attachedPictureBytes.empty() || handBuiltTag()) {
        return {};
    }
    m_pictureStream = avformat_new_stream(m_format.get(), nullptr);
    if (m_pictureStream == nullptr) {
        return "cannot add picture stream";
    }
    AVCodecParameters* par = m_pictureStream->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_MJPEG; // makes the mp3 muxer label the APIC image/jpeg
    // The muxer layer rejects video streams without dimensions; the values are not written.
    par->width = 1;
    par->height = 1;
    m_pictureStream->disposition = AV_DISPOSITION_ATTACHED_PIC;
    m_pictureStream->time_base = AVRational { 1, 90000 };
    // The mp3 muxer maps this comment to the APIC picture type (3, front cover).
    if (const int ret = av_dict_set(&m_pictureStream->metadata, "comment", "Cover (front)", 0); ret < 0) {
        return "cannot set picture type: " + errorText(ret);
    }
    return {};
}

std::string Encoder::writeHeader()
{
    DictionaryPtr muxerOptions;
    if (m_options.container == Container::Mp3) {
        // Untagged MP3s get no ID3v2 header at all; hand-built tags are added after muxing.
        const int version = m_options.id3 && !handBuiltTag() ? m_options.id3->version : 0;
        if (std::string err = setDictionary(muxerOptions, "id3v2_version", std::to_string(version));
            !err.empty()) {
            return err;
        }
        if (!m_options.xingHeader) {
            if (std::string err = setDictionary(muxerOptions, "write_xing", "0"); !err.empty()) {
                return err;
            }
        }
    }
    if (m_options.id3 && !handBuiltTag()) {
        const Id3Tags& tags = *m_options.id3;
        // Dictionary order is frame order in the ID3 tag.
        for (const auto& [key, value] :
            { std::pair { "comment", &tags.comment }, std::pair { "title", &tags.title },
                std::pair { "artist", &tags.artist }, std::pair { "album", &tags.album } }) {
            if (std::string err = setMetadata(m_format.get(), key, *value); !err.empty()) {
                return err;
            }
        }
    }
    AVDictionary* rawOptions = muxerOptions.release();
    const int ret = avformat_write_header(m_format.get(), &rawOptions);
    muxerOptions.reset(rawOptions);
    if (ret < 0) {
        return "cannot write header: " + errorText(ret);
    }
    if (const AVDictionaryEntry* left = av_dict_get(muxerOptions.get(), "", nullptr, AV_DICT_IGNORE_SUFFIX)) {
        return std::string("muxer ignored option ") + left->key;
    }
    return {};
}

std::string Encoder::writePicture()
{
    if (m_pictureStream == nullptr) {
        return {};
    }
    const auto& bytes = m_options.id3->attachedPictureBytes;
    if (bytes.size() > static_cast<std::size_t>(INT32_MAX / 2)) {
        return "attached picture is too large";
    }
    if (const int ret = av_new_packet(m_packet.get(), static_cast<int>(bytes.size())); ret < 0) {
        return "out of memory";
    }
    std::memcpy(m_packet->data, bytes.data(), bytes.size());
    m_packet->stream_index = m_pictureStream->index;
    m_packet->flags |= AV_PKT_FLAG_KEY;
    m_packet->pts = 0;
    m_packet->dts = 0;
    const int ret = av_write_frame(m_format.get(), m_packet.get());
    av_packet_unref(m_packet.get());
    return ret < 0 ? "cannot write attached picture: " + errorText(ret) : std::string();
}

std::string Encoder::sendFrame(const AVFrame* frame)
{
    if (const int ret = avcodec_send_frame(m_codec.get(), frame); ret < 0) {
        return "encoder rejected audio: " + errorText(ret);
    }
    for (;;) {
        const int ret = avcodec_receive_packet(m_codec.get(), m_packet.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) {
            return {};
        }
        if (ret < 0) {
            return "encoding failed: " + errorText(ret);
        }
        av_packet_rescale_ts(m_packet.get(), m_codec->time_base, m_audioStream->time_base);
        m_packet->stream_index = m_audioStream->index;
        // av_write_frame rather than the interleaving call: the mp3 muxer itself holds audio back
        // until the attached picture is in, and the interleaver would wait for a second picture.
        const int written = av_write_frame(m_format.get(), m_packet.get());
        av_packet_unref(m_packet.get());
        if (written < 0) {
            return "cannot write audio: " + errorText(written);
        }
    }
}

std::string Encoder::encodeAll()
{
    const bool anySize
        = (m_codec->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0 || m_codec->frame_size <= 0;
    const bool shortLast = anySize || (m_codec->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
    const int frameSize = anySize ? kVariableChunkFrames : m_codec->frame_size;

    const std::size_t total = m_signal.frames();
    std::size_t done = 0;
    while (done < total) {
        const std::size_t count = std::min(total - done, static_cast<std::size_t>(frameSize));
        FramePtr frame(av_frame_alloc());
        if (!frame) {
            return "out of memory";
        }
        // Fixed-size encoders without small-last-frame support get a silence-padded final frame.
        frame->nb_samples = shortLast ? static_cast<int>(count) : frameSize;
        frame->format = m_codec->sample_fmt;
        frame->sample_rate = m_codec->sample_rate;
        if (const int ret = av_channel_layout_copy(&frame->ch_layout, &m_codec->ch_layout); ret < 0) {
            return "cannot set channel layout: " + errorText(ret);
        }
        if (const int ret = av_frame_get_buffer(frame.get(), 0); ret < 0) {
            return "cannot allocate audio frame: " + errorText(ret);
        }
        if (!fillFrame(frame.get(), m_signal, done, count, m_codec->bits_per_raw_sample)) {
            return std::string("unsupported encoder sample format ")
                + av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format));
        }
        frame->pts = static_cast<std::int64_t>(done);
        if (std::string err = sendFrame(frame.get()); !err.empty()) {
            return err;
        }
        done += count;
    }
    return sendFrame(nullptr); // flush delayed packets
}

} // namespace

std::string writeAudioFile(
    const std::filesystem::path& path, const Signal& signal, const EncodeOptions& options) noexcept
{
    quietFfmpegLogging();
    try {
        std::string err;
        bool opened = false;
        {
            Encoder encoder(signal, options);
            err = encoder.run(path);
            opened = encoder.fileOpened();
        } // closes the file before any removal
        if (!err.empty() && opened) {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
        return err;
    } catch (const std::exception& e) {
        return std::string("unexpected failure: ") + e.what();
    } catch (...) {
        return "unexpected failure";
    }
}

} // namespace sondrel::fixtures
