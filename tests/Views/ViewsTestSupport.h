#pragma once

#include "../EventLoop.h"
#include "AppSettings.h"
#include "AudioFile.h"
#include "ScannerViewModel.h"

#include "../SondrelCore/FixtureFolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace sondrel::test {

// A view model with no cache, no read-ahead and settings in a temporary folder; records are put
// straight into its store.
class ViewsTest : public testing::Test {
protected:
    // Made in the constructor, so that fixtures can build their views over the view model as
    // members.
    ViewsTest()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_folder.path().c_str());
        // Read after the path is set: a fresh folder gives the default, 320 kbps.
        m_settings = std::make_unique<app::AppSettings>();
        app::ScannerViewModel::Services services;
        services.threshold = [settings = m_settings.get()] { return settings->qualityThreshold(); };
        services.settings = m_settings.get();
        m_viewModel = std::make_unique<app::ScannerViewModel>(services);
    }

    static app::AudioFile record(const std::string& name, app::ScanStatus status = app::ScanStatus::pending(),
        std::optional<core::AnalysisResult> result = std::nullopt, core::ID3Parser::Metadata tags = {})
    {
        const std::filesystem::path path = "/library/" + name;
        app::AudioFile file(path,
            core::audioFormatFromExtension(path.extension().string().substr(1)).value_or(core::AudioFormat::mp3), 4200000,
            tags);
        file.setStatus(std::move(status));
        file.setResult(result);
        return file;
    }

    static core::AnalysisResult result(float cutoff, std::int64_t bitrate, core::QualityRating rating,
        core::ClippingInfo clipping = { 0, 100000, 0.5f })
    {
        return core::AnalysisResult { cutoff, bitrate, rating, 0.8f, clipping };
    }

    void add(std::vector<app::AudioFile> files)
    {
        m_viewModel->filesStore().addFiles(std::move(files));
        m_viewModel->syncFromStore();
    }

    static bool waitUntil(const std::function<bool()>& condition, int milliseconds = 10000)
    {
        return test::waitUntil(condition, milliseconds);
    }

    FixtureFolder m_folder;
    std::unique_ptr<app::AppSettings> m_settings;
    std::unique_ptr<app::ScannerViewModel> m_viewModel;
};

} // namespace sondrel::test
