#pragma once

#include "../EventLoop.h"
#include "AnalysisCache.h"
#include "FilePrefetcher.h"
#include "ScannerViewModel.h"

#include "../SondrelCore/FixtureFolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>

namespace sondrel::test {


inline core::AnalysisResult resultRated(core::QualityRating rating, float cutoff = 20500.0f)
{
    return core::AnalysisResult { cutoff, 320, rating, 0.5f, { 0, 49152, 0.5f } };
}

// A library in a temporary folder whose verdicts come from a private analysis cache, so a scan
// takes no decoding: files given a cached result get it, "broken*" files fail to analyse and the
// rest analyse as lossless.
class LibraryFixture : public testing::Test {
protected:
    std::filesystem::path makeFile(const std::string& relative)
    {
        const auto path = m_library / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << "not really audio";
        return path;
    }

    std::filesystem::path makeFile(const std::string& relative, const core::AnalysisResult& cached)
    {
        const auto path = makeFile(relative);
        m_cache.set(path, cached);
        return path;
    }

    app::ScannerViewModel::Services services()
    {
        app::ScannerViewModel::Services s;
        s.cache = &m_cache;
        s.prefetcher = &m_prefetcher;
        s.threshold = [this] { return m_threshold; };
        s.concurrentAnalyses = 1;
        s.analysis = [](const std::filesystem::path& path)
            -> sondrel::Result<core::SpectrumAnalyzer::FullAnalysisResult> {
            if (path.filename().string().starts_with("broken"))
                return sondrel::Error { "Invalid data found when processing input" };
            core::SpectrumAnalyzer::FullAnalysisResult result;
            result.cutoff = 21000.0f;
            result.metrics.sampleRate = 44100;
            return result;
        };
        return s;
    }

    // Starts a run and waits until the model says it finished.
    template <typename Finished>
    static void runUntil(
        app::ScannerViewModel& model, Finished finishedSignal, const std::function<void()>& start)
    {
        bool finished = false;
        auto connection = QObject::connect(&model, finishedSignal, [&] { finished = true; });
        start();
        ASSERT_TRUE(waitUntil([&] { return finished; }));
        QObject::disconnect(connection);
    }

    // Discovers the library and, with `scan`, scans it to the end.
    void open(app::ScannerViewModel& model, bool scan = true)
    {
        runUntil(model, &app::ScannerViewModel::discoveryFinished, [&] { model.setLibrary(m_library); });
        if (scan)
            runUntil(model, &app::ScannerViewModel::scanFinished, [&] { model.startScan(); });
    }

    FixtureFolder m_folder;
    std::filesystem::path m_library = m_folder.path() / "library";
    core::AnalysisCache m_cache { m_folder.path() / "cache" / "analysis_cache.json" };
    core::FilePrefetcher m_prefetcher { [](const std::filesystem::path&) {} };
    app::QualityThreshold m_threshold = app::QualityThreshold::kbps320;
};

} // namespace sondrel::test
