#include "AnalysisCache.h"
#include "AnalyzeCommand.h"
#include "SpectrogramCommand.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace {

constexpr int kUsageError = 2;

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Sondrel checks a music library for files whose real quality is lower than they "
                 "claim: lossy transcodes posing as high-bitrate or lossless files, and clipping."};
    app.name("sondrel");
    app.require_subcommand(0, 1);

    sondrel::app::AnalyzeOptions analyze;
    std::vector<std::string> files;
    CLI::App* analyzeCommand = app.add_subcommand(
        "analyze",
        "Analyse audio files (mp3, wav, aiff, flac, m4a, aac) and print a verdict for each: the "
        "rating, the estimated true bitrate, the spectral cutoff, the confidence and the clipping. "
        "Nothing is cached. Exit status: 0 when every file was analysed, 1 when any could not be, "
        "2 for a usage error.");
    analyzeCommand->add_option("files", files, "Audio files to analyse")->required();
    analyzeCommand->add_flag("--json", analyze.json,
                             "One JSON object per line, in argument order");
    analyzeCommand->add_flag("--quick", analyze.quick,
                             "Quick screen: one excerpt from the middle of each file, sorted into "
                             "clearPass, borderline or clearFail");
    analyzeCommand->add_option("--jobs", analyze.jobs, "Files analysed at once (default: all cores)")
        ->check(CLI::Range(1u, 1024u));

    sondrel::app::SpectrogramOptions spectrogram;
    std::string spectrogramFile;
    std::string spectrogramOutput;
    CLI::App* spectrogramCommand = app.add_subcommand(
        "spectrogram",
        "Compute the whole-file spectrogram of an audio file (first channel; time left to right, "
        "frequency bottom to top, -120 dB black to 0 dB white) and write it as a PNG image. "
        "Prints the image's path.");
    spectrogramCommand->add_option("file", spectrogramFile, "Audio file")->required();
    spectrogramCommand->add_option("-o,--output", spectrogramOutput, "PNG file to write")->required();
    spectrogramCommand->add_option("--width", spectrogram.width, "Image width in pixels")
        ->capture_default_str()
        ->check(CLI::Range(1, 16384));
    spectrogramCommand->add_option("--height", spectrogram.height, "Image height in pixels")
        ->capture_default_str()
        ->check(CLI::Range(1, 16384));

    bool clearCache = false;
    CLI::App* cacheCommand = app.add_subcommand(
        "cache",
        "Print the analysis cache file's path and its number of entries "
        "($XDG_DATA_HOME/Sondrel/analysis_cache.json, else ~/.local/share/Sondrel/...).");
    cacheCommand->add_flag("--clear", clearCache, "Remove every entry (verdicts and overrides) and save at once");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kUsageError;
    }

    if (*analyzeCommand) {
        analyze.files.assign(files.begin(), files.end());
        return sondrel::app::runAnalyze(analyze, std::cout);
    }
    if (*spectrogramCommand) {
        spectrogram.file = spectrogramFile;
        spectrogram.output = spectrogramOutput;
        return sondrel::app::runSpectrogram(spectrogram, std::cout, std::cerr);
    }
    if (*cacheCommand) {
        auto& cache = sondrel::core::AnalysisCache::shared();
        if (clearCache) {
            cache.clear();
            cache.flush();
        }
        const std::size_t count = cache.count();
        std::cout << cache.cacheURL().string() << '\n' << count << (count == 1 ? " entry" : " entries") << '\n';
        return 0;
    }
    std::cout << app.help();
    return kUsageError;
}
