#include "FFmpegDecoder.h"

#include <algorithm>
#include <limits>
#include <span>

namespace sondrel::core::ffmpeg {
namespace {

// An MP3 frame may take up to 511 bytes of its data from the frames before it, and its
// output overlaps the previous frame's: decoding starts at least this many frames and bytes
// before the frame of the target.
constexpr std::uint64_t kMp3PrerollFrames = 3;
constexpr std::uint64_t kMp3PrerollBytes = 2048;

} // namespace

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

} // namespace sondrel::core::ffmpeg
