#pragma once

#include <filesystem>
#include <iosfwd>

namespace sondrel::app {

struct SpectrogramOptions {
    std::filesystem::path file;
    std::filesystem::path output;
    int width = 1200;
    int height = 400;
    bool force = false; // replace an existing output
};

// Computes the whole-file spectrogram, renders it with the fixed colour map and writes it
// as PNG. The image is written whole or not at all: a temporary file beside the output,
// synced, then renamed into place, so a full disk never leaves a truncated image. An output
// that is the input (also through links) is refused, and an existing output too unless
// `force`. Prints the output path on success; the error's description on err otherwise.
// Returns 0 on success, 1 on failure. Part of the executable, not of the application layer:
// encoding PNG needs QtGui.
[[nodiscard]] int runSpectrogram(const SpectrogramOptions& options, std::ostream& out, std::ostream& err);

} // namespace sondrel::app
