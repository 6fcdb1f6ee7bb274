#pragma once

#include "AudioIo.h"
#include "Signals.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace sondrel::fixtures {

inline constexpr std::string_view kManifestFileName = "manifest.json";

// One generated file, as listed in manifest.json.
struct ManifestEntry {
    std::string name; // file name inside the library folder
    std::string kind; // genuine, lossy, transcode, clipped, silence, silent-channel, short, tagged
    std::string format; // wav, aiff, flac, mp3, m4a
    std::string codec; // pcm_s16le, pcm_f32le, pcm_s16be, flac, mp3, aac
    int sampleRate = 0;
    int channels = 0;
    std::size_t frames = 0; // frames encoded; decoding gives these back, except AAC (see decodeToFloat)
    int bitsPerSample = 0; // lossless only: 16, 24 or 32 (float)
    int bitrateKbps = 0; // lossy only: the bitrate this file claims
    // Where the audio came from: "lossless" (synthesized, full band), "mp3-cbr128", "m4a-aac128".
    std::string source;
    // Bitrate class of the real content: the lowest lossy bitrate it went through, 0 if never lossy.
    int sourceBitrateKbps = 0;
    // "pass": meets a DJ's quality bar, i.e. lossless with full bandwidth, or lossy with the
    // ~20 kHz bandwidth of a 320 kbps-class encode. "fail": it does not (a lower bitrate, a
    // transcode from a lossy source). "error": cannot be analysed at all (digital silence,
    // or shorter than one 4096-point analysis frame).
    std::string expectation;
    // Other findings a checker may report, independent of the verdict: "clipping", "silence",
    // "silent-channel", "too-short".
    std::vector<std::string> issues;
    int id3Version = 0; // 0 when the file has no ID3v2 tag
    std::string title;
    std::string artist;
    std::string album;
    std::string note; // human-readable detail
};

// Writes the labelled fixture library into folder (created if missing) plus manifest.json, and
// fills entries in generation order. Deterministic: same files on every run with the same FFmpeg.
// Returns an empty string on success.
[[nodiscard]] std::string generateLibrary(
    const std::filesystem::path& folder, std::vector<ManifestEntry>& entries) noexcept;

// manifest.json text: an array with one object per file (empty only if memory runs out).
[[nodiscard]] std::string manifestToJson(const std::vector<ManifestEntry>& entries) noexcept;

// One long stereo 44.1 kHz music-like file for benchmarks. format: "wav" (s16), "aiff" (s16),
// "flac" (s16), "mp3" (CBR 320) or "m4a" (AAC 256). Returns an empty string on success.
[[nodiscard]] std::string writeBenchmarkFile(
    const std::filesystem::path& path, std::string_view format, double seconds) noexcept;

} // namespace sondrel::fixtures
