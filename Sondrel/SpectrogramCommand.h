#pragma once

#include <filesystem>
#include <iosfwd>

namespace sondrel::app {

struct SpectrogramOptions {
    std::filesystem::path file;
    std::filesystem::path output;
    int width = 1200;
    int height = 400;
};

// Computes the whole-file spectrogram, renders it with the fixed colour map and writes it
// as PNG. Prints the output path on success; the error's description on err otherwise.
// Returns 0 on success, 1 on failure.
[[nodiscard]] int runSpectrogram(const SpectrogramOptions& options, std::ostream& out, std::ostream& err);

} // namespace sondrel::app
