// Generates a file's spectrogram as the window's strip does, two halves at once, and prints the
// rows made and this process's peak resident memory in KiB.
//   sondrel_spectrogram_probe FILE

#include "SpectrogramGenerator.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

// The high-water mark of this program's own memory: the kernel's rusage figure would also
// count the memory of the process that started it, up to the exec.
long peakKibibytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:"))
            return std::stol(line.substr(6));
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: sondrel_spectrogram_probe FILE\n", stderr);
        return 2;
    }
    const sondrel::core::SpectrogramGenerator generator(4096, 2000);
    const std::atomic<bool> cancelled { false };
    auto data = generator.generateInHalves(argv[1], cancelled);
    if (!data) {
        std::fprintf(stderr, "%s\n", data.error().description.c_str());
        return 1;
    }
    std::printf("%lld %ld\n", static_cast<long long>(data->timeSlices()), peakKibibytes());
    return 0;
}
