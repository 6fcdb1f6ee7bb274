#include "FFmpegDecoder.h"
#include "SampleConversion.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <span>
#include <string_view>
#include <utility>

namespace sondrel::core::ffmpeg {
namespace {

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

} // namespace

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
    if (parameters->codec_id == AV_CODEC_ID_FLAC && !m_flac)
        m_flac = readFlacStreamInfo(fileReader(), m_tagLength, m_input.size());
    // FFmpeg's own MP3 seek is a guess (a linear byte position, or a coarse table), so it is
    // never used: seekMp3 finds the frame by its headers.
    const bool mpegAudio = parameters->codec_id == AV_CODEC_ID_MP3 || parameters->codec_id == AV_CODEC_ID_MP2
        || parameters->codec_id == AV_CODEC_ID_MP1;
    if (mpegAudio && !m_mpegAudio)
        m_mp3 = Mp3Frames::read(fileReader(), m_tagLength, m_input.size());
    m_mpegAudio = mpegAudio;
    if (!lengthStated) {
        // An MP3's frames counted by their headers, where they run cleanly to the end, cost
        // no demuxing; and the walk serves every later seek.
        if (m_countedLength < 0 && m_mp3) {
            if (const auto frames = m_mp3->countToEnd())
                m_countedLength = static_cast<std::int64_t>(*frames * m_mp3->header().samples);
        }
        if (m_countedLength < 0) {
            auto counted = countFrames(*stream);
            if (!counted)
                return counted.error();
            m_countedLength = *counted;
        }
        length = m_countedLength;
    }
    m_length = static_cast<std::uint64_t>(std::max<std::int64_t>(length, 0));
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

std::optional<EncoderTag> FFmpegDecoder::encoderTag() const
{
    if (!m_mpegAudio || !m_mp3 || !m_mp3->info() || m_mp3->info()->encoder.empty())
        return std::nullopt;
    const Mp3InfoFrame& info = *m_mp3->info();
    return EncoderTag { info.encoder, info.lowpassHz > 0 ? std::optional(info.lowpassHz) : std::nullopt };
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

} // namespace sondrel::core::ffmpeg

namespace sondrel::core {

using ffmpeg::FFmpegDecoder;

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
