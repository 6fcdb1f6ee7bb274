#pragma once

#include <algorithm>
#include <array>
#include <string_view>

namespace sondrel::app {

// The subcommands, as the command line knows them: a lone argument that is none of them (nor
// an option) opens the window on that folder.
inline constexpr std::array<std::string_view, 5> kSubcommands
    = { "analyze", "scan", "process", "spectrogram", "cache" };

[[nodiscard]] inline bool isSubcommand(std::string_view word) noexcept
{
    return std::find(kSubcommands.begin(), kSubcommands.end(), word) != kSubcommands.end();
}

// The command-line front: parses `sondrel analyze|scan|process|spectrogram|cache ...` and runs
// the subcommand; returns the exit status (2 for a usage error). Needs no display.
[[nodiscard]] int runCommandLine(int argc, char** argv);

} // namespace sondrel::app
