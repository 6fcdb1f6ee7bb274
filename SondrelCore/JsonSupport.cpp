#include "JsonSupport.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace sondrel::core::json {

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
    return { { "wallFrequency", shortest(evidence.wallFrequency) }, { "depth", shortest(evidence.depth) },
        { "width", shortest(evidence.width) } };
}

std::optional<LossyEvidence> lossyEvidenceFromJson(const nlohmann::json& object)
{
    const auto read = [&](const char* name) -> std::optional<float> {
        if (!object.is_object())
            return std::nullopt;
        const auto it = object.find(name);
        if (it == object.end() || !it->is_number())
            return std::nullopt;
        const double value = it->get<double>();
        if (!std::isfinite(value) || std::fabs(value) > static_cast<double>(std::numeric_limits<float>::max()))
            return std::nullopt;
        return static_cast<float>(value);
    };
    const auto wall = read("wallFrequency");
    const auto depth = read("depth");
    const auto width = read("width");
    if (!wall || !depth || !width)
        return std::nullopt;
    return LossyEvidence { *wall, *depth, *width };
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
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size;) {
        const unsigned char lead = bytes[i];
        std::size_t length = 0;
        unsigned minimum = 0;
        unsigned codePoint = 0;
        if (lead < 0x80) {
            length = 1;
            codePoint = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, minimum = 0x80, codePoint = lead & 0x1Fu;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, minimum = 0x800, codePoint = lead & 0x0Fu;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, minimum = 0x10000, codePoint = lead & 0x07u;
        }
        bool valid = length > 0 && i + length <= size;
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (bytes[i + k] & 0xC0) == 0x80;
            codePoint = (codePoint << 6) | (bytes[i + k] & 0x3Fu);
        }
        valid = valid && codePoint >= minimum && codePoint <= 0x10FFFF
            && (codePoint < 0xD800 || codePoint > 0xDFFF);
        if (valid) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out.append("\xEF\xBF\xBD");
            ++i;
        }
    }
    return out;
}

} // namespace sondrel::core::json
