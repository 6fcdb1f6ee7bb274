#include "AudioDecoder.h"
#include "FFmpegFileInput.h"
#include "FFmpegPtr.h"
#include "FileDescriptor.h"
#include "FlacFrames.h"
#include "Mp3Frames.h"
#include "ReadAheadHandoff.h"
#include "SampleConversion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

namespace sondrel::core {
namespace {

using namespace ffmpeg;

// Lossy decoders need a little audio before a seek target to settle (bit reservoir,
// overlapped transforms), so seeks aim this many frames early and discard up to the target.
constexpr std::int64_t kLossyPreroll = 2048;
// An MP3 frame may take up to 511 bytes of its data from the frames before it, and its
// output overlaps the previous frame's: decoding starts at least this many frames and bytes
// before the frame of the target.
constexpr std::uint64_t kMp3PrerollFrames = 3;
constexpr std::uint64_t kMp3PrerollBytes = 2048;
// The most silence put in place of frames the decoder dropped, at once (several FLAC blocks).
constexpr std::int64_t kMaxGap = 8 * 65536;

// Small, since every seek refills it: the bytes read beyond an excerpt are the buffer's.
constexpr int kIoBufferSize = 16384;

void silenceFFmpeg()
{
    // Every time: another part of the process (the fixture writer in tests) may raise it.
    av_log_set_level(AV_LOG_QUIET);
}

Error systemError(int code)
{
    return Error { std::strerror(code) };
}

class FFmpegDecoder final : public AudioDecoder {
public:
    static Result<std::unique_ptr<AudioDecoder>> open(const std::filesystem::path& path);

    double sampleRate() const noexcept override { return m_sampleRate; }
    int channelCount() const noexcept override { return m_channels; }
    std::uint64_t lengthInFrames() const noexcept override { return m_length; }
    Status seek(std::uint64_t frame) override;
    Result<std::size_t> read(std::size_t frames, AudioBuffer& buffer) override;

    // Reads the packets that seek(frame) and a read of `frames` frames would, without
    // decoding them.
    Status skim(std::uint64_t frame, std::size_t frames);
    [[nodiscard]] ReadAheadHandoff::FileIdentity identity() const
    {
        struct stat info { };
        if (::fstat(m_input.fd, &info) != 0)
            return {};
        return { info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec };
    }

private:
    enum class Next { frame, end };

    // Decodes the next frame into m_frameData; `end` at the end of the stream.
    Result<Next> decodeNextFrame();
    Status convert(const AVFrame& frame);
    Status seekStream(std::int64_t frame);
    // Moves the stream to a frame found by our own reading of a FLAC file's frame headers.
    Status seekFlac(const FlacStreamInfo& stream, std::int64_t frame);
    // Moves an MPEG audio stream to a frame found by our own reading of its frame headers, far
    // enough before `frame` that the frames up to it decode as in a decode from the start
    // (bit reservoir, overlap). Fails where no frame can be placed for sure.
    Status seekMp3(std::int64_t frame);
    // Moves the demuxer to a byte offset of the file; positions then count on from `frame`.
    Status seekToByte(std::uint64_t offset, std::int64_t frame);
    // Gives a FLAC packet the position its frame header states, so that a frame the decoder
    // drops leaves a gap instead of moving every later frame forward.
    void stampFlacPacket(AVPacket& packet) const;
    ByteReader fileReader() const
    {
        return [this](std::uint64_t offset, std::span<std::uint8_t> buffer) { return m_input.readAt(offset, buffer); };
    }
    // Opens the file afresh: the exact way back to frame 0, since a seek to the start may
    // skip the priming a lossy decoder needs.
    Status start();
    // Demuxes the whole stream and sums its packets: the true length where the container
    // gives only an estimate (FFmpeg's guess from the first frames' bitrate).
    Result<std::int64_t> countFrames(const AVStream& stream);
    // The error of a call that failed or ended because the file holds no audio where
    // FFmpeg went looking.
    Error failure(int status) const;

    std::string m_url;
    std::optional<FileDescriptor> m_file;
    FileInput m_input;
    std::uint64_t m_tagLength = 0;
    // Destroyed after the format context that reads through it.
    IoContextPtr m_io;
    FormatInputPtr m_format;
    CodecContextPtr m_codec;
    FramePtr m_frame;
    PacketPtr m_packet;
    int m_stream = -1;
    AVRational m_timeBase {};
    double m_sampleRate = 0;
    int m_channels = 0;
    std::uint64_t m_length = 0;
    // The length when the container did not state one, counted once and kept across reopens.
    std::int64_t m_countedLength = -1;
    double m_bytesPerFrame = 0;
    bool m_lossy = false;
    bool m_draining = false;
    // A FLAC file is sought through its frame headers, read by us; so is an MP3 file.
    std::optional<FlacStreamInfo> m_flac;
    std::optional<Mp3Frames> m_mp3;
    bool m_mpegAudio = false;
    // After a seek to a byte position the stream's timestamps are unknown; positions then
    // count on from where the seek landed, frame by frame.
    bool m_counting = false;
    // Whether the position of the next decoded frame is known before it comes: always, except
    // for the first frame of the stream and after FFmpeg's own seek, which may land anywhere.
    bool m_positionKnown = true;

    // Timestamp, in frames, of the first audible frame; positions count from it.
    std::int64_t m_origin = 0;
    // The current decoded frame: its data, where it starts, and how much was consumed.
    std::vector<std::vector<float>> m_frameData;
    std::int64_t m_frameStart = 0;
    std::size_t m_frameLength = 0;
    std::size_t m_frameOffset = 0;
};

Result<std::unique_ptr<AudioDecoder>> FFmpegDecoder::open(const std::filesystem::path& path)
{
    silenceFFmpeg();
    // Without blocking: opening a FIFO for reading waits for a writer that may never come.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.valid())
        return systemError(errno);
    struct stat info { };
    if (::fstat(file.get(), &info) != 0)
        return systemError(errno);
    if (S_ISDIR(info.st_mode))
        return systemError(EISDIR);
    // A FIFO, a socket or a device (a link to /dev/zero) never ends or never comes.
    if (!S_ISREG(info.st_mode))
        return Error { "Not a regular file" };
    // FFmpeg's probe calls an empty file an invalid argument; to the user it is not audio.
    if (info.st_size == 0)
        return Error { errorText(AVERROR_INVALIDDATA) };

    auto decoder = std::make_unique<FFmpegDecoder>();
    // Only a hint for the format probe: FFmpeg reads through our descriptor, never by name.
    decoder->m_url = path.string();
    decoder->m_tagLength = leadingTagLength(file.get());
    if (decoder->m_tagLength > static_cast<std::uint64_t>(info.st_size))
        return Error { "The file is damaged: its tag runs past the end of the file" };
    decoder->m_input.fd = file.get();
    decoder->m_input.base = decoder->m_tagLength;
    decoder->m_file.emplace(file.release());
    if (Status started = decoder->start(); !started)
        return started.error();
    return std::unique_ptr<AudioDecoder>(std::move(decoder));
}

Status FFmpegDecoder::start()
{
    m_codec.reset();
    m_format.reset();
    m_io.reset();
    m_draining = false;
    m_counting = false;
    // The first frame fixes where positions count from.
    m_positionKnown = false;
    m_origin = 0;
    m_frameStart = 0;
    m_frameLength = 0;
    m_frameOffset = 0;
    m_input.position = 0;
    m_input.sinceAudio = 0;
    m_input.allowance = kMaxBytesWithoutAudio;

    auto* ioBuffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferSize));
    if (!ioBuffer)
        return systemError(ENOMEM);
    m_io.reset(avio_alloc_context(
        ioBuffer, kIoBufferSize, 0, &m_input, &FileInput::read, nullptr, &FileInput::seek));
    if (!m_io) {
        av_free(ioBuffer);
        return systemError(ENOMEM);
    }
    AVFormatContext* format = avformat_alloc_context();
    if (!format)
        return systemError(ENOMEM);
    format->pb = m_io.get();
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Rate and channels come with the first packet; FFmpeg's default of five seconds of
    // stream analysis only costs reading.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "analyzeduration", "500000", 0);
    // avformat_open_input frees the context when it fails.
    int status = avformat_open_input(&format, m_url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (status < 0)
        return failure(status);
    m_format.reset(format);

    AVStream* stream = nullptr;
    const auto findStream = [&] {
        m_stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        stream = m_stream >= 0 ? format->streams[m_stream] : nullptr;
    };
    findStream();
    // Probing the stream costs a few decoded packets; only do it when the header
    // did not give the rate, the channels and a length.
    // A length in the header is the container's statement (a frame count, a sample count,
    // a data size); one that only avformat_find_stream_info works out is an estimate.
    // (Some demuxers, FLAC's among them, give the rate and channels only then.)
    std::vector<bool> stated(format->nb_streams);
    for (unsigned i = 0; i < format->nb_streams; ++i)
        stated[i] = format->streams[i]->duration != AV_NOPTS_VALUE || format->duration != AV_NOPTS_VALUE;
    const bool complete = stream && stream->codecpar->sample_rate > 0
        && stream->codecpar->ch_layout.nb_channels > 0 && stated[static_cast<std::size_t>(m_stream)];
    if (!complete) {
        status = avformat_find_stream_info(format, nullptr);
        if (status < 0 || m_input.exhausted)
            return failure(status);
        findStream();
    }
    const bool lengthStated = stream && static_cast<std::size_t>(m_stream) < stated.size()
        && stated[static_cast<std::size_t>(m_stream)];
    // No audio stream: to the user this is simply not an audio file.
    if (!stream)
        return Error { errorText(AVERROR_INVALIDDATA) };
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int>(i) != m_stream)
            format->streams[i]->discard = AVDISCARD_ALL;
    }

    const AVCodecParameters* parameters = stream->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec || parameters->sample_rate <= 0 || parameters->ch_layout.nb_channels <= 0)
        return Error { errorText(codec ? AVERROR_INVALIDDATA : AVERROR_DECODER_NOT_FOUND) };
    m_codec.reset(avcodec_alloc_context3(codec));
    if (!m_codec)
        return systemError(ENOMEM);
    AVCodecContext* context = m_codec.get();
    if ((status = avcodec_parameters_to_context(context, parameters)) < 0)
        return Error { errorText(status) };
    // Lets the decoder move timestamps past the encoder delay it drops.
    context->pkt_timebase = stream->time_base;
    if ((status = avcodec_open2(context, codec, nullptr)) < 0)
        return Error { errorText(status) };

    if (!m_frame)
        m_frame.reset(av_frame_alloc());
    if (!m_packet)
        m_packet.reset(av_packet_alloc());
    if (!m_frame || !m_packet)
        return systemError(ENOMEM);

    m_timeBase = stream->time_base;
    m_sampleRate = parameters->sample_rate;
    m_channels = parameters->ch_layout.nb_channels;
    m_frameData.resize(static_cast<std::size_t>(m_channels));
    const AVRational perFrame { 1, parameters->sample_rate };
    std::int64_t length = 0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        length = av_rescale_q(stream->duration, stream->time_base, perFrame);
    else if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        length = av_rescale_q(format->duration, AV_TIME_BASE_Q, perFrame);
    // FFmpeg's own MP3 seek is a guess (a linear byte position, or a coarse table), so it is
    // never used: seekMp3 finds the frame by its headers.
    if (!lengthStated) {
        if (m_countedLength < 0) {
            auto counted = countFrames(*stream);
            if (!counted)
                return counted.error();
            m_countedLength = *counted;
        }
        length = m_countedLength;
    }
    m_length = static_cast<std::uint64_t>(std::max<std::int64_t>(length, 0));
    if (parameters->codec_id == AV_CODEC_ID_FLAC && !m_flac)
        m_flac = readFlacStreamInfo(fileReader(), m_tagLength, m_input.size());
    const bool mpegAudio = parameters->codec_id == AV_CODEC_ID_MP3 || parameters->codec_id == AV_CODEC_ID_MP2
        || parameters->codec_id == AV_CODEC_ID_MP1;
    if (mpegAudio && !m_mpegAudio)
        m_mp3 = Mp3Frames::read(fileReader(), m_tagLength, m_input.size());
    m_mpegAudio = mpegAudio;
    // What a second of the stream costs to read, to bound how far a seek may read.
    const auto fileBytes = static_cast<double>(m_input.size());
    m_bytesPerFrame = parameters->bit_rate > 0
        ? static_cast<double>(parameters->bit_rate) / 8.0 / m_sampleRate
        : m_length > 0 ? fileBytes / static_cast<double>(m_length)
                       : 0.0;
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(parameters->codec_id);
    m_lossy = !descriptor || (descriptor->props & AV_CODEC_PROP_LOSSLESS) == 0;

    // The first decoded frame fixes the origin of positions.
    auto first = decodeNextFrame();
    if (!first)
        return first.error();
    if (*first == Next::frame)
        m_origin = m_frameStart;
    m_frameStart = 0;
    return Ok {};
}

Result<FFmpegDecoder::Next> FFmpegDecoder::decodeNextFrame()
{
    const std::int64_t expectedStart = m_frameStart + static_cast<std::int64_t>(m_frameLength);
    AVCodecContext* context = m_codec.get();
    AVFrame* frame = m_frame.get();
    for (;;) {
        int status = avcodec_receive_frame(context, frame);
        if (status == 0) {
            std::int64_t timestamp = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
            m_frameStart = timestamp != AV_NOPTS_VALUE && (!m_counting || m_flac)
                ? av_rescale_q(timestamp, m_timeBase, AVRational { 1, static_cast<int>(m_sampleRate) })
                    - m_origin
                : expectedStart;
            Status converted = convert(*frame);
            av_frame_unref(frame);
            if (!converted)
                return converted.error();
            if (m_frameLength == 0)
                continue;
            // A frame the decoder dropped (damage): silence in its place keeps later frames
            // where the stream's timestamps put them, as a seek finds them.
            const std::int64_t gap = m_frameStart - expectedStart;
            const bool known = std::exchange(m_positionKnown, true);
            if (known && gap > 0 && gap <= kMaxGap) {
                for (auto& channel : m_frameData)
                    channel.insert(channel.begin(), static_cast<std::size_t>(gap), 0.0f);
                m_frameLength += static_cast<std::size_t>(gap);
                m_frameStart = expectedStart;
            }
            m_input.sinceAudio = 0;
            m_input.allowance = kMaxBytesWithoutAudio;
            return Next::frame;
        }
        if (m_input.exhausted)
            return failure(status);
        if (status == AVERROR_EOF)
            return Next::end;
        if (status != AVERROR(EAGAIN) && status != AVERROR_INVALIDDATA)
            return Error { errorText(status) };
        if (m_draining)
            return Next::end;

        status = av_read_frame(m_format.get(), m_packet.get());
        if (m_input.exhausted)
            return failure(status);
        if (status == AVERROR_EOF) {
            m_draining = true;
            avcodec_send_packet(context, nullptr);
            continue;
        }
        if (status < 0)
            return Error { errorText(status) };
        if (m_packet->stream_index == m_stream) {
            if (m_flac)
                stampFlacPacket(*m_packet);
            // After a seek by bytes the demuxer may take the first packet for the stream's
            // start and have the encoder delay dropped from it again.
            if (m_counting)
                av_packet_shrink_side_data(m_packet.get(), AV_PKT_DATA_SKIP_SAMPLES, 0);
            status = avcodec_send_packet(context, m_packet.get());
            // A damaged packet is skipped, as players do; the decoder resynchronises.
            if (status < 0 && status != AVERROR_INVALIDDATA && status != AVERROR(EAGAIN)) {
                av_packet_unref(m_packet.get());
                return Error { errorText(status) };
            }
        }
        av_packet_unref(m_packet.get());
    }
}

Status FFmpegDecoder::convert(const AVFrame& frame)
{
    const auto count = static_cast<std::size_t>(std::max(frame.nb_samples, 0));
    for (auto& channel : m_frameData) {
        if (channel.size() < count)
            channel.resize(count);
    }
    m_frameOffset = 0;
    m_frameLength = count;
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
        convertFrame<std::uint8_t>(frame, planar, m_frameData);
        break;
    case AV_SAMPLE_FMT_S16:
        convertFrame<std::int16_t>(frame, planar, m_frameData);
        break;
    case AV_SAMPLE_FMT_S32:
        convertFrame<std::int32_t>(frame, planar, m_frameData);
        break;
    case AV_SAMPLE_FMT_S64:
        convertFrame<std::int64_t>(frame, planar, m_frameData);
        break;
    case AV_SAMPLE_FMT_FLT:
        convertFrame<float>(frame, planar, m_frameData);
        break;
    case AV_SAMPLE_FMT_DBL:
        convertFrame<double>(frame, planar, m_frameData);
        break;
    default:
        m_frameLength = 0;
        return Error { errorText(AVERROR_PATCHWELCOME) };
    }
    return Ok {};
}

Status FFmpegDecoder::seekStream(std::int64_t frame)
{
    if (m_mpegAudio)
        return seekMp3(frame);
    if (m_flac) {
        if (Status sought = seekFlac(*m_flac, frame); sought)
            return sought;
    }
    const std::int64_t target
        = av_rescale_q(frame + m_origin, AVRational { 1, static_cast<int>(m_sampleRate) }, m_timeBase);
    // A seek without an index reads from the start to the target: allow about twice what
    // the audio up to the target should take, so that a stated length over a file of zeros
    // ends in an error instead of a read to the end.
    m_input.sinceAudio = 0;
    m_input.allowance = kMaxBytesWithoutAudio
        + static_cast<std::uint64_t>(
            2.0 * m_bytesPerFrame * static_cast<double>(std::max<std::int64_t>(frame, 0)));
    const int status = avformat_seek_file(
        m_format.get(), m_stream, std::numeric_limits<std::int64_t>::min(), target, target, 0);
    if (m_input.exhausted)
        return failure(status);
    if (status < 0)
        return Error { errorText(status) };
    avcodec_flush_buffers(m_codec.get());
    m_draining = false;
    m_counting = false;
    m_positionKnown = false;
    m_frameLength = 0;
    m_frameOffset = 0;
    m_frameStart = frame;
    return Ok {};
}

Status FFmpegDecoder::seekFlac(const FlacStreamInfo& stream, std::int64_t frame)
{
    const auto found
        = findFlacFrame(fileReader(), m_input.size(), stream, static_cast<std::uint64_t>(frame + m_origin));
    if (!found)
        return Error { errorText(AVERROR(EINVAL)) };
    return seekToByte(found->offset, static_cast<std::int64_t>(found->sample) - m_origin);
}

Status FFmpegDecoder::seekMp3(std::int64_t frame)
{
    // Without frames we can count, only a decode from the start is exact.
    if (!m_mp3)
        return Error { errorText(AVERROR(EINVAL)) };
    const std::uint64_t samples = m_mp3->header().samples;
    const auto index = static_cast<std::uint64_t>(std::max<std::int64_t>(frame + m_origin, 0)) / samples;
    if (index <= kMp3PrerollFrames)
        return Error { errorText(AVERROR(EINVAL)) };
    const auto target = m_mp3->offsetOf(index);
    std::uint64_t from = index - kMp3PrerollFrames;
    auto offset = m_mp3->offsetOf(from);
    while (target && offset && from > 0 && *target - *offset < kMp3PrerollBytes)
        offset = m_mp3->offsetOf(--from);
    if (!target || !offset || from == 0)
        return Error { errorText(AVERROR(EINVAL)) };
    return seekToByte(*offset, static_cast<std::int64_t>(from * samples) - m_origin);
}

Status FFmpegDecoder::seekToByte(std::uint64_t offset, std::int64_t frame)
{
    if (offset < m_input.base)
        return Error { errorText(AVERROR(EINVAL)) };
    avformat_flush(m_format.get());
    if (const std::int64_t moved
        = avio_seek(m_format->pb, static_cast<std::int64_t>(offset - m_input.base), SEEK_SET);
        moved < 0)
        return Error { errorText(static_cast<int>(moved)) };
    avcodec_flush_buffers(m_codec.get());
    m_input.sinceAudio = 0;
    m_draining = false;
    m_counting = true;
    m_positionKnown = true;
    m_frameLength = 0;
    m_frameOffset = 0;
    m_frameStart = frame;
    return Ok {};
}

void FFmpegDecoder::stampFlacPacket(AVPacket& packet) const
{
    const auto header = parseFlacFrameHeader(
        std::span<const std::uint8_t>(packet.data, static_cast<std::size_t>(std::max(packet.size, 0))), *m_flac);
    packet.pts = header
        ? av_rescale_q(static_cast<std::int64_t>(header->sample), AVRational { 1, static_cast<int>(m_sampleRate) },
            m_timeBase)
        : AV_NOPTS_VALUE;
    packet.dts = packet.pts;
}

Status FFmpegDecoder::seek(std::uint64_t frame)
{
    if (frame > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() / 2))
        return Error { errorText(AVERROR(EINVAL)) };
    const auto target = static_cast<std::int64_t>(frame);
    const std::int64_t position = m_frameStart + static_cast<std::int64_t>(m_frameOffset);
    // Already there, or a little ahead within reach: decode forward instead of seeking.
    const bool forwardOnly = target >= position && target - position <= kLossyPreroll;
    if (!forwardOnly) {
        const std::int64_t preroll = m_lossy ? kLossyPreroll : 0;
        // A container may land after the target; then aim earlier, by growing steps, and
        // at the start reopen.
        std::int64_t step = std::max(preroll, static_cast<std::int64_t>(m_sampleRate));
        for (std::int64_t aim = target - preroll;; aim -= step, step *= 2) {
            // Some containers refuse a seek past what they can index (a truncated file):
            // then too go back to the start, from which decoding on is exact.
            if (aim <= 0 || !seekStream(aim)) {
                if (Status started = start(); !started)
                    return started;
                break;
            }
            auto next = decodeNextFrame();
            if (!next)
                return next.error();
            if (*next == Next::end || m_frameStart <= target)
                break;
        }
    }
    // Discard up to the target.
    for (;;) {
        const std::int64_t end = m_frameStart + static_cast<std::int64_t>(m_frameLength);
        if (m_frameLength > 0 && target < end) {
            m_frameOffset = static_cast<std::size_t>(std::max<std::int64_t>(target - m_frameStart, 0));
            return Ok {};
        }
        auto next = decodeNextFrame();
        if (!next)
            return next.error();
        if (*next == Next::end) {
            m_frameOffset = m_frameLength;
            return Ok {};
        }
    }
}

Result<std::size_t> FFmpegDecoder::read(std::size_t frames, AudioBuffer& buffer)
{
    frames = std::min(frames, buffer.capacity());
    const int channels = std::min(buffer.channelCount(), m_channels);
    std::size_t delivered = 0;
    while (delivered < frames) {
        if (m_frameOffset >= m_frameLength) {
            auto next = decodeNextFrame();
            if (!next)
                return next.error();
            if (*next == Next::end)
                break;
        }
        const std::size_t take = std::min(frames - delivered, m_frameLength - m_frameOffset);
        for (int c = 0; c < channels; ++c) {
            const float* source = m_frameData[static_cast<std::size_t>(c)].data() + m_frameOffset;
            std::copy_n(source, take, buffer.storage(c).data() + delivered);
        }
        m_frameOffset += take;
        delivered += take;
    }
    buffer.setFrameLength(delivered);
    return delivered;
}

Status FFmpegDecoder::skim(std::uint64_t frame, std::size_t frames)
{
    const auto target = static_cast<std::int64_t>(std::min<std::uint64_t>(frame, INT64_MAX / 4));
    const std::int64_t position = m_frameStart + static_cast<std::int64_t>(m_frameOffset);
    // As seek() does: from where the stream is when the target is just ahead, else from a
    // seek a little before it. Where seek() would step back further, the page cache
    // already holds most of what it reads.
    if (target < position || target - position > kLossyPreroll) {
        const std::int64_t aim = target - (m_lossy ? kLossyPreroll : 0);
        if (aim > 0) {
            if (Status sought = seekStream(aim); !sought)
                return sought;
        }
    }
    const AVRational perFrame { 1, static_cast<int>(m_sampleRate) };
    const std::int64_t end = target + static_cast<std::int64_t>(frames);
    for (;;) {
        const int status = av_read_frame(m_format.get(), m_packet.get());
        if (m_input.exhausted)
            return failure(status);
        if (status == AVERROR_EOF)
            return Ok {};
        if (status < 0)
            return Error { errorText(status) };
        const bool ours = m_packet->stream_index == m_stream;
        const bool timed = m_packet->pts != AV_NOPTS_VALUE && !m_counting;
        const std::int64_t start = timed ? av_rescale_q(m_packet->pts, m_timeBase, perFrame) - m_origin : m_frameStart;
        std::int64_t duration = av_rescale_q(m_packet->duration, m_timeBase, perFrame);
        if (duration <= 0)
            duration = m_flac ? m_flac->maxBlockSize : 0;
        av_packet_unref(m_packet.get());
        if (ours) {
            m_input.sinceAudio = 0;
            // Without timestamps, positions count on by each packet's length.
            m_frameStart = timed ? start : start + duration;
            m_frameLength = 0;
            m_frameOffset = 0;
            if (start >= end)
                return Ok {};
        }
    }
}

Result<std::int64_t> FFmpegDecoder::countFrames(const AVStream& stream)
{
    AVFormatContext* format = m_format.get();
    AVPacket* packet = m_packet.get();
    std::int64_t total = 0;
    for (;;) {
        const int status = av_read_frame(format, packet);
        if (m_input.exhausted)
            return failure(status);
        if (status == AVERROR_EOF)
            break;
        if (status < 0)
            return Error { errorText(status) };
        if (packet->stream_index == stream.index) {
            total += packet->duration > 0
                ? packet->duration
                : av_rescale_q(stream.codecpar->frame_size, AVRational { 1, stream.codecpar->sample_rate },
                    stream.time_base);
            m_input.sinceAudio = 0;
        }
        av_packet_unref(packet);
    }
    // Back to the start for decoding; the index built on the way makes later seeks cheap.
    const int status = avformat_seek_file(format, stream.index, std::numeric_limits<std::int64_t>::min(),
        std::numeric_limits<std::int64_t>::min(), 0, 0);
    if (status < 0)
        return Error { errorText(status) };
    return av_rescale_q(total, stream.time_base, AVRational { 1, stream.codecpar->sample_rate });
}

Error FFmpegDecoder::failure(int status) const
{
    // Reading stopped where audio should have been: to the user, not an audio file.
    if (m_input.exhausted || status >= 0)
        return Error { errorText(AVERROR_INVALIDDATA) };
    // FFmpeg's words for a table it cannot use ("patches welcome", or an allocation a corrupt
    // count made too big) name no cause a user can act on.
    if (status == AVERROR_PATCHWELCOME || status == AVERROR(ENOMEM)) {
        std::array<std::uint8_t, 4> type {};
        const bool mp4 = m_input.readAt(m_input.base + 4, type) == type.size()
            && std::string_view(reinterpret_cast<const char*>(type.data()), type.size()) == "ftyp";
        return Error { mp4 ? "The file is damaged: its sample table cannot be read"
                           : "The file is damaged: it states sizes that its data does not hold" };
    }
    return Error { errorText(status) };
}

} // namespace

Result<std::unique_ptr<AudioDecoder>> openAudioFile(const std::filesystem::path& path)
{
    if (auto kept = ReadAheadHandoff::take(path))
        return kept;
    return FFmpegDecoder::open(path);
}

void readAhead(const std::filesystem::path& path,
    const std::function<std::vector<ExcerptRange>(std::uint64_t length)>& excerpts) noexcept
{
    try {
        auto decoder = FFmpegDecoder::open(path);
        if (!decoder)
            return;
        auto& skimmer = static_cast<FFmpegDecoder&>(**decoder);
        for (const ExcerptRange& excerpt : excerpts(skimmer.lengthInFrames())) {
            if (!skimmer.skim(excerpt.position, excerpt.frames))
                return;
        }
        // The analysis that follows takes over the open file, its probe and its frame walk.
        ReadAheadHandoff::keep(path, skimmer.identity(), std::move(*decoder));
    } catch (...) {
        // Out of memory: a read-ahead has no outcome.
    }
}

} // namespace sondrel::core
