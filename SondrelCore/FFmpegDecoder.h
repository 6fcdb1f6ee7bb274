#pragma once

// The FFmpeg decoder behind openAudioFile and readAhead. Opening and decoding are in
// FFmpegDecoder.cpp, seeking in FFmpegSeek.cpp. Included only by those two.

#include "AudioDecoder.h"
#include "FFmpegFileInput.h"
#include "FFmpegPtr.h"
#include "FileDescriptor.h"
#include "FlacFrames.h"
#include "Mp3Frames.h"
#include "ReadAheadHandoff.h"

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sondrel::core::ffmpeg {

// Lossy decoders need a little audio before a seek target to settle (bit reservoir,
// overlapped transforms), so seeks aim this many frames early and discard up to the target.
inline constexpr std::int64_t kLossyPreroll = 2048;

class FFmpegDecoder final : public AudioDecoder {
public:
    static Result<std::unique_ptr<AudioDecoder>> open(const std::filesystem::path& path);

    double sampleRate() const noexcept override { return m_sampleRate; }
    int channelCount() const noexcept override { return m_channels; }
    std::uint64_t lengthInFrames() const noexcept override { return m_length; }
    Status seek(std::uint64_t frame) override;
    Result<std::size_t> read(std::size_t frames, AudioBuffer& buffer) override;
    std::optional<EncoderTag> encoderTag() const override;

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

} // namespace sondrel::core::ffmpeg
