#include "FileVerdict.h"

#include "QualityClassifier.h"

namespace sondrel::core {

std::string_view description(AnalysisError error) noexcept
{
    switch (error) {
    case AnalysisError::analyzerInitFailed:
        return "Failed to initialise audio analyzer";
    }
    return "Failed to initialise audio analyzer";
}

Result<FileVerdict> analyzeAndClassify(
    const std::filesystem::path& path, AudioFormat format, const FileAnalysis& analysis)
{
    Result<SpectrumAnalyzer::FullAnalysisResult> full
        = Error { std::string(description(AnalysisError::analyzerInitFailed)) };
    if (analysis) {
        full = analysis(path);
    } else if (auto analyzer = SpectrumAnalyzer::make()) {
        full = analyzer->analyzeFileComplete(path);
    }
    if (!full)
        return full.error();
    const std::optional<EncoderTag>& tag = full->encoderTag;
    AnalysisResult result = QualityClassifier {}.classify(full->cutoff, format, full->clipping,
        full->metrics.sampleRate, full->lossyEvidence, tag ? tag->lowpass : std::nullopt, full->loudReach);
    if (tag) {
        result.encoder = tag->encoder;
        result.encoderLowpass = tag->lowpass;
    }
    return FileVerdict { std::move(result), full->metrics };
}

} // namespace sondrel::core
