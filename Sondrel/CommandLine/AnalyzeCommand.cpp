#include "AnalyzeCommand.h"

#include "FileVerdict.h"
#include "JsonSupport.h"
#include "ParallelFor.h"
#include "PathText.h"
#include "SpectrumAnalyzer.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>
#include <variant>

namespace sondrel::app {
namespace {

using core::AnalysisResult;
using core::AudioFormat;
using core::SpectrumAnalyzer;

struct FullVerdict {
    AudioFormat format;
    AnalysisResult result;
    core::AnalysisMetrics metrics;
};
using Verdict = std::variant<Error, FullVerdict, SpectrumAnalyzer::QuickScreenResult>;

Verdict judge(const std::filesystem::path& path, bool quick)
{
    const AudioFormat format = core::audioFormatOf(path);
    if (!quick) {
        auto verdict = core::analyzeAndClassify(path, format);
        if (!verdict)
            return verdict.error();
        return FullVerdict { format, verdict->result, verdict->metrics };
    }
    auto analyzer = SpectrumAnalyzer::make();
    if (!analyzer)
        return Error { std::string(description(core::AnalysisError::analyzerInitFailed)) };
    auto screen = analyzer->quickScreen(path);
    if (!screen)
        return screen.error();
    return *screen;
}

double milliseconds(double ms)
{
    return std::round(ms * 1000.0) / 1000.0;
}

std::string jsonLine(const std::filesystem::path& path, const Verdict& verdict)
{
    using core::json::shortest;
    core::json::Object line;
    line["path"] = path.string();
    if (const auto* error = std::get_if<Error>(&verdict)) {
        line["error"] = error->description;
    } else if (const auto* screen = std::get_if<SpectrumAnalyzer::QuickScreenResult>(&verdict)) {
        line["cutoff"] = shortest(screen->cutoff);
        line["confidence"] = core::rawValue(screen->confidence);
    } else {
        const auto& full = std::get<FullVerdict>(verdict);
        const AnalysisResult& r = full.result;
        line["format"] = core::rawValue(full.format);
        line["sampleRate"] = full.metrics.sampleRate;
        line["cutoffFrequency"] = shortest(r.cutoffFrequency);
        line["estimatedBitrate"] = r.estimatedBitrate;
        line["rating"] = core::rawValue(r.rating);
        line["confidence"] = shortest(r.confidence);
        line["passesThreshold"] = r.passesThreshold();
        line["clipping"] = core::json::toJson(r.clipping);
        core::json::putEvidence(line, r.lossyEvidence, r.encoderPruning);
        core::json::putEncoder(line, r.encoder, r.encoderLowpass);
        line["frameCount"] = full.metrics.frameCount;
        line["sampleCount"] = full.metrics.sampleCount;
        line["decodeMs"] = milliseconds(full.metrics.decodeMs());
        line["fftMs"] = milliseconds(full.metrics.fftMs());
        line["totalMs"] = milliseconds(full.metrics.totalMs());
    }
    return core::json::text(line);
}

std::string textLine(const std::filesystem::path& path, const Verdict& verdict, int nameWidth)
{
    char text[512];
    const std::string name = PathText::lastPathComponent(path);
    if (const auto* error = std::get_if<Error>(&verdict)) {
        std::snprintf(
            text, sizeof text, "%-*s  error: %s", nameWidth, name.c_str(), error->description.c_str());
    } else if (const auto* screen = std::get_if<SpectrumAnalyzer::QuickScreenResult>(&verdict)) {
        std::snprintf(text, sizeof text, "%-*s  %5.1f kHz  %s", nameWidth, name.c_str(),
            static_cast<double>(screen->cutoff) / 1000.0,
            std::string(core::rawValue(screen->confidence)).c_str());
    } else {
        const AnalysisResult& r = std::get<FullVerdict>(verdict).result;
        std::snprintf(text, sizeof text, "%-*s  %-9s  %4lld kbps  %8s  confidence %.2f  clipping %s",
            nameWidth, name.c_str(), std::string(core::rawValue(r.rating)).c_str(),
            static_cast<long long>(r.estimatedBitrate), r.cutoffDescription().c_str(),
            static_cast<double>(r.confidence), std::string(core::rawValue(r.clipping.severity())).c_str());
        if (const std::string why = r.evidenceExplanation(); !why.empty())
            return text + ("  " + why);
    }
    return text;
}

} // namespace

int runAnalyze(const AnalyzeOptions& options, std::ostream& out)
{
    const std::size_t count = options.files.size();
    unsigned jobs = options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, std::max<std::size_t>(count, 1)));

    int nameWidth = 0;
    for (const auto& path : options.files)
        nameWidth = std::max(nameWidth, static_cast<int>(PathText::lastPathComponent(path).size()));
    nameWidth = std::min(nameWidth, 60);

    // Workers take files in order; the caller prints each verdict once every earlier
    // one has been printed, so memory holds only the verdicts still waiting their turn.
    std::vector<std::optional<Verdict>> verdicts(count);
    std::mutex mutex;
    std::condition_variable ready;
    const ParallelFor workers(count, jobs, [&](std::size_t index) {
        Verdict verdict = judge(options.files[index], options.quick);
        std::lock_guard lock(mutex);
        verdicts[index] = std::move(verdict);
        ready.notify_all();
    });

    int status = 0;
    for (std::size_t index = 0; index < count; ++index) {
        Verdict verdict;
        {
            std::unique_lock lock(mutex);
            ready.wait(lock, [&] { return verdicts[index].has_value(); });
            verdict = std::move(*verdicts[index]);
            verdicts[index].reset();
        }
        if (std::holds_alternative<Error>(verdict))
            status = 1;
        const auto& path = options.files[index];
        out << (options.json ? jsonLine(path, verdict) : textLine(path, verdict, nameWidth)) << '\n';
        out.flush();
    }
    return status;
}

} // namespace sondrel::app
