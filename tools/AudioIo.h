#pragma once

#include "Signals.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sondrel::fixtures {

enum class Container {
    Wav, // pcm_s16le / pcm_s24le / pcm_f32le
    Aiff, // pcm_s16be / pcm_s24be
    Flac, // flac, s16 or s32 carrying 24 bits
    Mp3, // libmp3lame, CBR
    M4a, // FFmpeg's native aac encoder in the ipod (m4a) muxer
};

// Storage format for the lossless containers; ignored for Mp3 and M4a.
enum class SampleFormat { S16, S24, F32 };

struct Id3Tags {
    int version = 4; // ID3v2.3 or ID3v2.4
    std::string title;
    std::string artist;
    std::string album;
    // FFmpeg 5.1 stores this as TXXX with description "comment" (it cannot write COMM) and writes it
    // before title/artist/album, since it keeps dictionary order: a long comment gives a big frame
    // ahead of the title frame.
    std::string comment;
    // Becomes an APIC frame (image/jpeg, front cover). FFmpeg's mp3 muxer always writes APIC after
    // every text frame, i.e. after the title.
    std::vector<std::uint8_t> attachedPictureBytes;
    // FFmpeg cannot put APIC first, so when set the ID3v2.4 tag is built by this library instead and
    // prepended to the MP3 that FFmpeg wrote without a tag. Frame order: APIC, COMM, TIT2, TPE1,
    // TALB. Needs version 4.
    bool pictureBeforeText = false;
};

struct EncodeOptions {
    Container container = Container::Wav;
    SampleFormat sampleFormat = SampleFormat::S16;
    int bitrateKbps = 0; // Mp3 and M4a only; must be > 0 there unless vbrQuality is set
    std::optional<Id3Tags> id3; // Mp3 only
    int vbrQuality = -1; // Mp3 only: LAME VBR quality 0 (best) to 9 in place of a bitrate
    bool xingHeader = true; // Mp3 only: the Xing/Info frame with the frame count and seek table
    bool adts = false; // M4a only: a raw ADTS stream (.aac) without the MP4 container
};

// Encodes and muxes with FFmpeg. Returns an empty string on success, otherwise a message; a partly
// written file is removed on failure.
[[nodiscard]] std::string writeAudioFile(
    const std::filesystem::path& path, const Signal& signal, const EncodeOptions& options) noexcept;

struct DecodedAudio {
    Signal signal; // interleaved float, every decoded channel
    std::string error; // empty on success

    [[nodiscard]] bool ok() const noexcept { return error.empty(); }
};

// Decodes the best audio stream of any file FFmpeg can read. FFmpeg trims the encoder delay the
// container signals (LAME tag, MP4 edit list), so MP3s decode to exactly the frames encoded; AAC in
// M4A keeps its end padding and decodes up to 1023 frames longer.
[[nodiscard]] DecodedAudio decodeToFloat(const std::filesystem::path& path) noexcept;

[[nodiscard]] std::string_view containerName(Container container) noexcept; // "wav", "aiff", ...
[[nodiscard]] std::string_view fileExtension(Container container) noexcept; // ".wav", ".m4a", ...
[[nodiscard]] std::optional<Container> parseContainer(std::string_view name) noexcept;

// Whether this FFmpeg build has the encoder a container needs (libmp3lame is optional in FFmpeg).
[[nodiscard]] bool encoderAvailable(Container container) noexcept;

// Quiets FFmpeg's logging to errors only; called by the writers and the decoder.
void quietFfmpegLogging() noexcept;

} // namespace sondrel::fixtures
