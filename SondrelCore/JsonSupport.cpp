#include "JsonSupport.h"

#include "Utf8.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace sondrel::core::json {
namespace {

constexpr const char* kRoundingFloor = "roundingFloor";

} // namespace

double shortest(float value) noexcept
{
    if (!std::isfinite(value))
        return 0.0;
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text - 1, value).ptr;
    *end = '\0';
    return std::strtod(text, nullptr);
}

Object toJson(const ClippingInfo& clipping)
{
    return { { "clippedSamples", clipping.clippedSamples }, { "totalSamples", clipping.totalSamples },
        { "peakAmplitude", shortest(clipping.peakAmplitude) },
        { "severity", rawValue(clipping.severity()) } };
}

Object toJson(const LossyEvidence& evidence)
{
    Object object { { "wallFrequency", shortest(evidence.wallFrequency) },
        { "depth", shortest(evidence.depth) }, { "width", shortest(evidence.width) } };
    // A wall has no "kind": entries and lines written before the rounding floor read the same.
    if (evidence.kind == LossyEvidence::Kind::roundingFloor)
        object["kind"] = kRoundingFloor;
    return object;
}

std::optional<float> finiteFloat(const nlohmann::json& value)
{
    if (!value.is_number())
        return std::nullopt;
    const double number = value.get<double>();
    if (!std::isfinite(number) || std::fabs(number) > static_cast<double>(std::numeric_limits<float>::max()))
        return std::nullopt;
    return static_cast<float>(number);
}

namespace {

// A member that is a finite number within a float's range, or nothing.
std::optional<float> finiteMember(const nlohmann::json& object, const char* name)
{
    if (!object.is_object())
        return std::nullopt;
    const auto it = object.find(name);
    return it == object.end() ? std::nullopt : finiteFloat(*it);
}

} // namespace

std::optional<LossyEvidence> lossyEvidenceFromJson(const nlohmann::json& object)
{
    const auto wall = finiteMember(object, "wallFrequency");
    const auto depth = finiteMember(object, "depth");
    const auto width = finiteMember(object, "width");
    if (!wall || !depth || !width)
        return std::nullopt;
    LossyEvidence evidence { *wall, *depth, *width };
    // A kind this version does not know reads as a wall: its frequency is still where the content
    // stops.
    if (const auto kind = object.find("kind"); kind != object.end() && *kind == kRoundingFloor)
        evidence.kind = LossyEvidence::Kind::roundingFloor;
    return evidence;
}

Object toJson(const EncoderPruning& pruning)
{
    Object object { { "judgedFrequency", shortest(pruning.judgedFrequency) } };
    if (pruning.loudReach)
        object["loudReach"] = shortest(*pruning.loudReach);
    return object;
}

std::optional<EncoderPruning> encoderPruningFromJson(const nlohmann::json& object)
{
    const auto judged = finiteMember(object, "judgedFrequency");
    const auto reach = finiteMember(object, "loudReach");
    if (!judged || (!reach && object.contains("loudReach")))
        return std::nullopt;
    return EncoderPruning { *judged, reach };
}

void putEvidence(Object& object, const std::optional<LossyEvidence>& lossyEvidence,
    const std::optional<EncoderPruning>& encoderPruning)
{
    if (lossyEvidence)
        object["lossyEvidence"] = toJson(*lossyEvidence);
    if (encoderPruning)
        object["encoderPruning"] = toJson(*encoderPruning);
}

void putEncoder(Object& object, const std::optional<std::string>& encoder, std::optional<int> encoderLowpass)
{
    if (encoder)
        object["encoder"] = *encoder;
    if (encoderLowpass)
        object["encoderLowpass"] = *encoderLowpass;
}

std::string text(const Object& value)
{
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string validUtf8(std::string_view text)
{
    // A JSON string dumped with replacement, minus its quotes, would escape control
    // characters too; a direct walk keeps the text as it is.
    std::string out;
    out.reserve(text.size());
    const std::span<const char> bytes(text.data(), text.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t start = i;
        if (nextUtf8(bytes, i))
            out.append(text.substr(start, i - start));
        else
            out.append("\xEF\xBF\xBD");
    }
    return out;
}

} // namespace sondrel::core::json
