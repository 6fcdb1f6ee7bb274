#include "FixtureGenerator.h"

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace sondrel::fixtures;

void printUsage()
{
    std::fputs("usage: sondrel-fixtures OUTDIR\n"
               "       sondrel-fixtures --bench-file FORMAT SECONDS OUT   (FORMAT: wav aiff flac mp3 m4a)\n",
        stderr);
}

[[nodiscard]] int generate(const char* folder)
{
    std::vector<ManifestEntry> entries;
    if (const std::string err = generateLibrary(folder, entries); !err.empty()) {
        std::fprintf(stderr, "sondrel-fixtures: %s\n", err.c_str());
        return 1;
    }
    for (const ManifestEntry& e : entries) {
        std::printf("%-52s %-14s %-4s expect=%s\n", e.name.c_str(), e.kind.c_str(), e.format.c_str(),
            e.expectation.c_str());
    }
    std::printf(
        "%zu files and %s written to %s\n", entries.size(), std::string(kManifestFileName).c_str(), folder);
    return 0;
}

[[nodiscard]] int benchFile(std::string_view format, std::string_view secondsText, const char* out)
{
    double seconds = 0.0;
    const auto [end, ec]
        = std::from_chars(secondsText.data(), secondsText.data() + secondsText.size(), seconds);
    if (ec != std::errc {} || end != secondsText.data() + secondsText.size()) {
        std::fprintf(stderr, "sondrel-fixtures: SECONDS must be a number, got '%.*s'\n",
            static_cast<int>(secondsText.size()), secondsText.data());
        return 1;
    }
    if (const std::string err = writeBenchmarkFile(out, format, seconds); !err.empty()) {
        std::fprintf(stderr, "sondrel-fixtures: %s\n", err.c_str());
        return 1;
    }
    std::printf("%s\n", out);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string_view(argv[1]) != "--help" && std::string_view(argv[1]) != "-h") {
        return generate(argv[1]);
    }
    if (argc == 5 && std::string_view(argv[1]) == "--bench-file") {
        return benchFile(argv[2], argv[3], argv[4]);
    }
    printUsage();
    return 1;
}
