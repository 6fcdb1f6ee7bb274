#pragma once

#include "AnalysisModel.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace sondrel::core::json {

// Members keep the order they were added in.
using Object = nlohmann::ordered_json;

// The double whose shortest text is the float's shortest text, so that 0.8225806f is
// written as 0.8225806 rather than 0.8225806355476379. Non-finite values become 0.
[[nodiscard]] double shortest(float value) noexcept;

// A number that is finite and within a float's range, as a float; nothing for anything else.
[[nodiscard]] std::optional<float> finiteFloat(const nlohmann::json& value);

// {"clippedSamples","totalSamples","peakAmplitude","severity"} of the command line's output.
[[nodiscard]] Object toJson(const ClippingInfo& clipping);

// {"wallFrequency","depth","width"}, plus "kind":"roundingFloor" for a rounding floor, as the
// cache file and the command line write it.
[[nodiscard]] Object toJson(const LossyEvidence& evidence);
// Nothing unless all three members are finite numbers.
[[nodiscard]] std::optional<LossyEvidence> lossyEvidenceFromJson(const nlohmann::json& object);

// {"judgedFrequency"} plus "loudReach" where it was measured.
[[nodiscard]] Object toJson(const EncoderPruning& pruning);
// Nothing unless "judgedFrequency" is a finite number, and "loudReach" one or absent.
[[nodiscard]] std::optional<EncoderPruning> encoderPruningFromJson(const nlohmann::json& object);

// "lossyEvidence" and "encoderPruning" members, each only where present, as the cache file
// and the command line write them: an older reader skips a member it does not know.
void putEvidence(Object& object, const std::optional<LossyEvidence>& lossyEvidence,
    const std::optional<EncoderPruning>& encoderPruning);

// "encoder" and "encoderLowpass" members, each only where present, as the cache file and the
// command line write them.
void putEncoder(Object& object, const std::optional<std::string>& encoder, std::optional<int> encoderLowpass);

// Compact text; bytes that are not valid UTF-8 become U+FFFD instead of failing.
[[nodiscard]] std::string text(const Object& value);

// The text with invalid UTF-8 sequences replaced by U+FFFD, for display.
[[nodiscard]] std::string validUtf8(std::string_view text);

} // namespace sondrel::core::json
