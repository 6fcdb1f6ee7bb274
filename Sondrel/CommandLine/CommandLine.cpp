#include "CommandLine.h"

#include "AnalysisCache.h"
#include "AnalyzeCommand.h"
#include "ProcessCommand.h"
#include "ScanCommand.h"
#include "SpectrogramCommand.h"

#include <CLI/CLI.hpp>
#include <QCoreApplication>

#include <cassert>
#include <charconv>
#include <iostream>
#include <string>
#include <unistd.h>

namespace sondrel::app {

namespace {
constexpr int kUsageError = 2;

// CLI11 prefixes the option's name: "--jobs: takes a whole number from 1 to 1024 (...), not abc".
CLI::Validator wholeNumber(long long lowest, long long highest, const std::string& meaning)
{
    return CLI::Validator(
        [=](const std::string& text) -> std::string {
            long long value = 0;
            const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
            const bool whole = parsed.ec == std::errc() && parsed.ptr == text.data() + text.size();
            if (whole && value >= lowest && value <= highest)
                return {};
            return "takes a whole number from " + std::to_string(lowest) + " to " + std::to_string(highest)
                + " (" + meaning + "), not \"" + text + "\"";
        },
        std::to_string(lowest) + "-" + std::to_string(highest));
}

CLI::Validator thresholdValue()
{
    return CLI::Validator(
        [](const std::string& text) -> std::string {
            for (const char* value : { "64", "96", "128", "160", "192", "224", "256", "320" }) {
                if (text == value)
                    return {};
            }
            return "takes one of the quality thresholds 64, 96, 128, 160, 192, 224, 256 or 320 (kbps), not \""
                + text + "\"";
        },
        "KBPS");
}
} // namespace

int runCommandLine(int argc, char** argv)
{
    CLI::App app { "Sondrel checks a music library for files whose real quality is lower than they "
                   "claim: lossy transcodes posing as high-bitrate or lossless files, and clipping." };
    app.name("sondrel");
    app.require_subcommand(0, 1);
    app.set_version_flag(
        "--version", std::string("Sondrel ") + SONDREL_VERSION, "Print the version and exit");

    sondrel::app::AnalyzeOptions analyze;
    std::vector<std::string> files;
    CLI::App* analyzeCommand = app.add_subcommand("analyze",
        "Analyse audio files (mp3, wav, aiff, flac, m4a, aac) and print a verdict for each: the "
        "rating, the estimated true bitrate, the spectral cutoff, the confidence and the clipping. "
        "Nothing is cached. Exit status: 0 when every file was analysed, 1 when any could not be, "
        "2 for a usage error.");
    analyzeCommand->add_option("files", files, "Audio files to analyse")->required();
    analyzeCommand->add_flag("--json", analyze.json, "One JSON object per line, in argument order");
    analyzeCommand->add_flag("--quick", analyze.quick,
        "Quick screen: one excerpt from the middle of each file, sorted into "
        "clearPass, borderline or clearFail");
    analyzeCommand->add_option("--jobs", analyze.jobs, "Files analysed at once (default: all cores)")
        ->check(wholeNumber(1, 1024, "files analysed at once"));

    sondrel::app::SpectrogramOptions spectrogram;
    std::string spectrogramFile;
    std::string spectrogramOutput;
    CLI::App* spectrogramCommand = app.add_subcommand("spectrogram",
        "Compute the whole-file spectrogram of an audio file (first channel; time left to right, "
        "frequency bottom to top, -120 dB black to 0 dB white) and write it as a PNG image. "
        "Prints the image's path.");
    spectrogramCommand->add_option("file", spectrogramFile, "Audio file")->required();
    spectrogramCommand->add_option("-o,--output", spectrogramOutput, "PNG file to write")->required();
    spectrogramCommand->add_option("--width", spectrogram.width, "Image width in pixels")
        ->capture_default_str()
        ->check(wholeNumber(1, 16384, "pixels"));
    spectrogramCommand->add_option("--height", spectrogram.height, "Image height in pixels")
        ->capture_default_str()
        ->check(wholeNumber(1, 16384, "pixels"));
    spectrogramCommand->add_flag("--force", spectrogram.force, "Replace an existing output file");

    sondrel::app::ScanOptions scan;
    std::string scanFolder;
    std::string scanSubfolder;
    int scanThreshold = 0;
    bool scanJson = false;
    bool scanCsv = false;
    bool scanM3u8 = false;
    CLI::App* scanCommand = app.add_subcommand("scan",
        "Discover the audio files below FOLDER, analyse every file not already in the analysis cache "
        "(in parallel), judge each against the quality threshold and print one line per file. "
        "Exit status: 0 when the scan completed and no file failed or errored, 1 when any file failed "
        "the threshold or could not be analysed, 2 when the scan could not run, 130 when interrupted.");
    scanCommand->add_option("folder", scanFolder, "The library folder")->required();
    scanCommand->add_option(
        "--folder", scanSubfolder, "Scan only this sub-folder (absolute, or relative to FOLDER)");
    scanCommand
        ->add_option("--threshold", scanThreshold,
            "Quality threshold in kbps for this run (64, 96, 128, 160, 192, 224, 256 or 320); "
            "the stored setting is not changed")
        ->check(thresholdValue());
    auto* jsonFlag = scanCommand->add_flag("--json", scanJson, "One JSON object per file");
    auto* csvFlag = scanCommand->add_flag("--csv", scanCsv, "CSV with a header row")->excludes(jsonFlag);
    scanCommand
        ->add_flag("--m3u8", scanM3u8,
            "An M3U8 playlist (#EXTINF with seconds and \"Artist - Title\", then the absolute path), "
            "which DJ software imports")
        ->excludes(jsonFlag)
        ->excludes(csvFlag);
    scanCommand->add_flag("--failed-only", scan.failedOnly, "Only the files that failed the threshold");
    scanCommand->add_flag("--no-cache", scan.noCache, "Neither read nor write the analysis cache");
    scanCommand->add_option("--jobs", scan.jobs, "Files analysed at once (default: all cores)")
        ->check(wholeNumber(1, 1024, "files analysed at once"));

    sondrel::app::ProcessOptions process;
    std::string processFolder;
    std::string processMove;
    int processThreshold = 0;
    std::vector<std::string> processOnly;
    CLI::App* processCommand = app.add_subcommand("process",
        "Scan FOLDER as `scan` does (cache first), then act on the files that fail the threshold: rename "
        "them with the marker \" fake-<bitrate>\", move them into a folder (numbered names when a name is "
        "taken), move them to the Trash, and/or write the detected bitrate as a comment into the tags of "
        "every analysed file (only MP3 files can be tagged; every other analysed file counts as a failed "
        "update, listed with its reason), and/or, first of all, put them in a crate of Mixxx's library. "
        "Nothing is ever overwritten. Prints the results. Exit status: 0 when every step succeeded, 1 when "
        "a step recorded an error or a tag write failed, 2 for usage errors (also a Mixxx library that "
        "cannot be used, or a running Mixxx), 130 when interrupted.");
    processCommand->add_option("folder", processFolder, "The library folder")->required();
    processCommand->add_flag(
        "--rename", process.rename, "Append \" fake-<bitrate>\" to the failed files' names");
    auto* moveOption
        = processCommand->add_option("--move", processMove, "Move the failed files into this folder");
    // Not CLI11's excludes(): runProcess() says why the two cannot go together.
    processCommand->add_flag("--trash", process.trash, "Move the failed files to the Trash");
    processCommand->add_flag("--tag", process.tag,
        "Write \"Detected bitrate: N kbps\" as a comment into the ID3 tags of every analysed file in scope, "
        "passed or failed; files other than MP3 cannot be tagged and are reported as failed updates");
    processCommand->add_option("--threshold", processThreshold, "Quality threshold in kbps for this run")
        ->check(thresholdValue());
    processCommand->add_option(
        "--only", processOnly, "Act only on these files (as given, or relative to FOLDER)");
    std::string processCrate;
    std::string processMixxxDatabase;
    auto* crateOption = processCommand->add_option("--crate", processCrate,
        "Add the failed files that Mixxx knows to this crate of its library (created when missing), "
        "before any rename or move; files marked DJ ready stay out. Refused while Mixxx runs");
    processCommand
        ->add_option(
            "--mixxx-db", processMixxxDatabase, "Mixxx's library database (default: ~/.mixxx/mixxxdb.sqlite)")
        ->needs(crateOption);
    processCommand->add_flag("--dry-run", process.dryRun, "List what each step would do and change nothing");
    processCommand->add_flag(
        "--yes", process.yes, "Do not ask before renaming, moving, trashing or filling a crate");

    bool clearCache = false;
    CLI::App* cacheCommand = app.add_subcommand("cache",
        "Print the analysis cache file's path and its number of entries "
        "($XDG_DATA_HOME/Sondrel/analysis_cache.json, else ~/.local/share/Sondrel/...).");
    cacheCommand->add_flag(
        "--clear", clearCache, "Remove every entry (verdicts and overrides) and save at once");

    // The one list the program consults before it chooses the window.
    assert(app.get_subcommands({}).size() == kSubcommands.size());
    for ([[maybe_unused]] const CLI::App* command : app.get_subcommands({}))
        assert(isSubcommand(command->get_name()));

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
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
    if (*scanCommand) {
        QCoreApplication application(argc, argv);
        scan.folder = scanFolder;
        if (!scanSubfolder.empty())
            scan.subfolder = scanSubfolder;
        if (scanThreshold != 0)
            scan.threshold = sondrel::app::qualityThresholdFromRawValue(scanThreshold);
        scan.output = scanJson ? sondrel::app::ScanOptions::Output::json
            : scanCsv          ? sondrel::app::ScanOptions::Output::csv
            : scanM3u8         ? sondrel::app::ScanOptions::Output::m3u8
                               : sondrel::app::ScanOptions::Output::table;
        return sondrel::app::runScan(scan, std::cout, std::cerr, ::isatty(STDERR_FILENO) != 0);
    }
    if (*processCommand) {
        QCoreApplication application(argc, argv);
        process.folder = processFolder;
        // "--move --trash" hands "--trash" to --move as its folder.
        if (processMove == "--trash") {
            process.trash = true;
        } else if (processMove.starts_with("--")) {
            std::cerr << "--move: takes the folder to move the failed files into, not the option "
                      << processMove << "\n";
            return kUsageError;
        }
        if (*moveOption)
            process.moveTo = processMove;
        if (processThreshold != 0)
            process.threshold = sondrel::app::qualityThresholdFromRawValue(processThreshold);
        process.only.assign(processOnly.begin(), processOnly.end());
        if (*crateOption)
            process.crate = processCrate;
        if (!processMixxxDatabase.empty())
            process.mixxxDatabase = processMixxxDatabase;
        return sondrel::app::runProcess(process, std::cin, ::isatty(STDIN_FILENO) != 0, std::cout, std::cerr);
    }
    if (*cacheCommand) {
        auto& cache = sondrel::core::AnalysisCache::shared();
        cache.reportSaveFailuresTo(std::cerr);
        if (clearCache) {
            cache.clear();
            cache.flush();
        }
        const std::size_t count = cache.count();
        std::cout << cache.cacheURL().string() << '\n'
                  << count << (count == 1 ? " entry" : " entries") << '\n';
        return 0;
    }
    std::cout << app.help();
    return kUsageError;
}

} // namespace sondrel::app
