#pragma once

namespace sondrel::app {

// The command-line front: parses `sondrel analyze|scan|process|spectrogram|cache ...` and runs
// the subcommand; returns the exit status (2 for a usage error). Needs no display.
[[nodiscard]] int runCommandLine(int argc, char** argv);

} // namespace sondrel::app
