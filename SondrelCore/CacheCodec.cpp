#include "CacheCodec.h"

#include "JsonSupport.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace sondrel::core {

using std::chrono::system_clock;

namespace {

// Dates in the file count seconds from 2001-01-01T00:00:00Z.
constexpr std::int64_t kReferenceDateUnixSeconds = 978307200;
// A LAME tag states its low-pass in 100 Hz steps in one byte.
constexpr std::int64_t kHighestLowpass = 25500;
// Beyond this, nanosecond time points overflow; such a date counts as damage.
constexpr double kMaxDateSeconds = 8.0e9;

using Json = nlohmann::json;

// Microsecond precision: a double of this magnitude holds no more.
[[nodiscard]] std::optional<system_clock::time_point> dateFromReferenceSeconds(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > kMaxDateSeconds)
        return std::nullopt;
    const auto micros = std::chrono::microseconds(std::llround(seconds * 1e6))
        + std::chrono::seconds(kReferenceDateUnixSeconds);
    return system_clock::time_point(std::chrono::duration_cast<system_clock::duration>(micros));
}

[[nodiscard]] json::Object encodeEntry(const AnalysisCache::CachedResult& entry)
{
    json::Object object = json::Object::object();
    object["cutoffFrequency"] = json::shortest(entry.cutoffFrequency);
    object["estimatedBitrate"] = entry.estimatedBitrate;
    object["rating"] = entry.rating;
    object["confidence"] = json::shortest(entry.confidence);
    object["clippedSamples"] = entry.clippedSamples;
    object["totalSamples"] = entry.totalSamples;
    object["peakAmplitude"] = json::shortest(entry.peakAmplitude);
    object["cachedAt"] = CacheCodec::secondsSinceReferenceDate(entry.cachedAt);
    if (entry.userOverride) {
        json::Object override = json::Object::object();
        override["djReady"] = entry.userOverride->djReady;
        override["qualityRating"] = std::string(rawValue(entry.userOverride->qualityRating));
        override["timestamp"] = CacheCodec::secondsSinceReferenceDate(entry.userOverride->timestamp);
        object["userOverride"] = std::move(override);
    }
    json::putEvidence(object, entry.lossyEvidence, entry.encoderPruning);
    json::putEncoder(object, entry.encoder, entry.encoderLowpass);
    if (entry.tags) {
        // Each member only where the file has it: {} says the file has none.
        json::Object tags = json::Object::object();
        for (const auto& [name, text] : { std::pair { "title", &entry.tags->title },
                 std::pair { "artist", &entry.tags->artist }, std::pair { "album", &entry.tags->album } }) {
            if (*text)
                tags[name] = **text;
        }
        if (entry.tags->bitrate)
            tags["bitrate"] = *entry.tags->bitrate;
        if (entry.tagsChanged)
            tags["changed"] = Json::array({ entry.tagsChanged->seconds, entry.tagsChanged->nanoseconds });
        object["tags"] = std::move(tags);
    }
    return object;
}

[[nodiscard]] const Json* member(const Json& object, const char* name)
{
    const auto it = object.find(name);
    return it == object.end() ? nullptr : &*it;
}

[[nodiscard]] bool readFloat(const Json& value, float& out)
{
    const auto number = json::finiteFloat(value);
    if (number)
        out = *number;
    return number.has_value();
}

[[nodiscard]] bool readInteger(const Json& value, std::int64_t& out)
{
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return false;
        out = static_cast<std::int64_t>(number);
        return true;
    }
    if (!value.is_number_integer())
        return false;
    out = value.get<std::int64_t>();
    return true;
}

[[nodiscard]] bool readDate(const Json& value, system_clock::time_point& out)
{
    if (!value.is_number())
        return false;
    const auto date = dateFromReferenceSeconds(value.get<double>());
    if (!date)
        return false;
    out = *date;
    return true;
}

[[nodiscard]] std::optional<UserOverride> decodeOverride(const Json& object)
{
    if (!object.is_object())
        return std::nullopt;
    const Json* djReady = member(object, "djReady");
    const Json* rating = member(object, "qualityRating");
    const Json* timestamp = member(object, "timestamp");
    if (djReady == nullptr || !djReady->is_boolean() || rating == nullptr || !rating->is_string()
        || timestamp == nullptr)
        return std::nullopt;
    const auto qualityRating = qualityRatingFromRawValue(rating->get_ref<const std::string&>());
    UserOverride override;
    if (!qualityRating || !readDate(*timestamp, override.timestamp))
        return std::nullopt;
    override.djReady = djReady->get<bool>();
    override.qualityRating = *qualityRating;
    return override;
}

// Tags that are not what this version writes count as none: the file is then read again,
// rather than the whole cache being dropped for them.
[[nodiscard]] AnalysisCache::Tags decodeTags(const Json& object)
{
    if (!object.is_object())
        return nullptr;
    ID3Parser::Metadata tags;
    for (const auto& [name, text] : { std::pair { "title", &tags.title },
             std::pair { "artist", &tags.artist }, std::pair { "album", &tags.album } }) {
        if (const Json* value = member(object, name)) {
            if (!value->is_string())
                return nullptr;
            *text = value->get_ref<const std::string&>();
        }
    }
    if (const Json* value = member(object, "bitrate")) {
        std::int64_t bitrate = 0;
        if (!readInteger(*value, bitrate))
            return nullptr;
        tags.bitrate = bitrate;
    }
    return std::make_shared<const ID3Parser::Metadata>(std::move(tags));
}

// The change time the tags were read under; none where it is missing or not two integers.
[[nodiscard]] std::optional<ChangeTime> decodeTagsChanged(const Json& object)
{
    const Json* value = object.is_object() ? member(object, "changed") : nullptr;
    ChangeTime changed;
    if (!value || !value->is_array() || value->size() != 2 || !readInteger((*value)[0], changed.seconds)
        || !readInteger((*value)[1], changed.nanoseconds))
        return std::nullopt;
    return changed;
}

// One entry as its members arrive; members it does not know are skipped.
struct EntryReader {
    AnalysisCache::CachedResult entry;
    unsigned seen = 0; // the required members read, one bit each

    static constexpr unsigned kAllRequired = (1u << 8) - 1;

    // False for a value of the wrong type or range.
    [[nodiscard]] bool read(std::string_view name, const Json& value)
    {
        if (name == "userOverride") {
            // Absent and null both mean no override.
            entry.userOverride = value.is_null() ? std::nullopt : decodeOverride(value);
            return value.is_null() || entry.userOverride.has_value();
        }
        if (name == "lossyEvidence") {
            // Absent in entries written before the brick-wall detector, and where it did not act.
            entry.lossyEvidence = value.is_null() ? std::nullopt : json::lossyEvidenceFromJson(value);
            return value.is_null() || entry.lossyEvidence.has_value();
        }
        if (name == "encoderPruning") {
            // Absent in entries written before it, and where it did not act.
            entry.encoderPruning = value.is_null() ? std::nullopt : json::encoderPruningFromJson(value);
            return value.is_null() || entry.encoderPruning.has_value();
        }
        // The LAME tag's facts, absent in entries written before they were kept.
        if (name == "encoder") {
            if (value.is_string())
                entry.encoder = value.get_ref<const std::string&>();
            return value.is_null() || value.is_string();
        }
        if (name == "tags") {
            entry.tags = decodeTags(value);
            entry.tagsChanged = entry.tags ? decodeTagsChanged(value) : std::nullopt;
            return true;
        }
        if (name == "encoderLowpass") {
            std::int64_t lowpass = 0;
            const bool ok = readInteger(value, lowpass) && lowpass > 0 && lowpass <= kHighestLowpass;
            if (ok)
                entry.encoderLowpass = static_cast<int>(lowpass);
            return value.is_null() || ok;
        }
        const auto required = [&](unsigned bit, bool ok) {
            seen |= 1u << bit;
            return ok;
        };
        if (name == "cutoffFrequency")
            return required(0, readFloat(value, entry.cutoffFrequency));
        if (name == "estimatedBitrate")
            return required(1, readInteger(value, entry.estimatedBitrate));
        if (name == "rating") {
            if (value.is_string())
                entry.rating = value.get_ref<const std::string&>();
            return required(2, value.is_string());
        }
        if (name == "confidence")
            return required(3, readFloat(value, entry.confidence));
        if (name == "clippedSamples")
            return required(4, readInteger(value, entry.clippedSamples));
        if (name == "totalSamples")
            return required(5, readInteger(value, entry.totalSamples));
        if (name == "peakAmplitude")
            return required(6, readFloat(value, entry.peakAmplitude));
        if (name == "cachedAt")
            return required(7, readDate(value, entry.cachedAt));
        return true;
    }

    [[nodiscard]] bool complete() const noexcept { return seen == kAllRequired; }
};

// Reads the file's events straight into the map: the top object's members are entries, whose
// scalar members are read as they come; a member whose value is an object or an array (the
// override) is gathered into a small tree first. Any event out of place stops the parse.
class CacheReader final : public nlohmann::json_sax<Json> {
public:
    explicit CacheReader(AnalysisCache::Map& cache)
        : m_cache(cache)
    {
    }

    bool null() override { return scalar(Json(nullptr)); }
    bool boolean(bool value) override { return scalar(Json(value)); }
    bool number_integer(number_integer_t value) override { return scalar(Json(value)); }
    bool number_unsigned(number_unsigned_t value) override { return scalar(Json(value)); }
    bool number_float(number_float_t value, const string_t&) override { return scalar(Json(value)); }
    bool string(string_t& value) override { return scalar(Json(value)); }
    bool binary(binary_t&) override { return false; }

    bool start_object(std::size_t) override
    {
        switch (m_depth) {
        case 0: // the top object
            break;
        case 1: // an entry
            m_entry = EntryReader {};
            break;
        default: // within a member's value
            if (!open(Json::object()))
                return false;
        }
        ++m_depth;
        return true;
    }

    bool end_object() override
    {
        --m_depth;
        if (m_depth == 1) {
            if (!m_entry.complete())
                return false;
            m_cache.insert_or_assign(m_cache.end(), std::move(m_key), std::move(m_entry.entry));
            return true;
        }
        return m_depth < 1 || close();
    }

    bool start_array(std::size_t) override
    {
        // Only within a member's value: the top level and the entries are objects.
        if (m_depth < 2 || !open(Json::array()))
            return false;
        ++m_depth;
        return true;
    }

    bool end_array() override
    {
        --m_depth;
        return close();
    }

    bool key(string_t& name) override
    {
        if (m_depth == 1)
            m_key = name;
        else if (m_depth == 2)
            m_member = name;
        else
            m_innerKey = name;
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override
    {
        return false;
    }

private:
    // A value at the current place: a member of the entry, or part of a member's tree.
    bool scalar(Json value)
    {
        if (m_depth < 2)
            return false;
        if (m_depth == 2)
            return m_entry.read(m_member, value);
        place(std::move(value));
        return true;
    }

    Json& place(Json value)
    {
        Json& parent = *m_open.back();
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return parent.back();
        }
        return parent[m_innerKey] = std::move(value);
    }

    bool open(Json container)
    {
        if (m_depth == 2) {
            m_tree = std::move(container);
            m_open.assign(1, &m_tree);
        } else {
            m_open.push_back(&place(std::move(container)));
        }
        return true;
    }

    bool close()
    {
        m_open.pop_back();
        return !m_open.empty() || m_entry.read(m_member, m_tree);
    }

    AnalysisCache::Map& m_cache;
    int m_depth = 0;
    std::string m_key;
    std::string m_member;
    std::string m_innerKey;
    EntryReader m_entry;
    Json m_tree; // a member's object or array value being gathered
    std::vector<Json*> m_open;
};

} // namespace

double CacheCodec::secondsSinceReferenceDate(system_clock::time_point date)
{
    const auto sinceUnixEpoch = std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch());
    const auto whole = std::chrono::floor<std::chrono::seconds>(sinceUnixEpoch);
    const auto fraction = sinceUnixEpoch - whole;
    return static_cast<double>(whole.count() - kReferenceDateUnixSeconds)
        + static_cast<double>(fraction.count()) / 1e9;
}

// Written member by member: an ordered object would look up each new key linearly.
std::string CacheCodec::encode(const AnalysisCache::Map& cache)
{
    std::string out;
    out.reserve(cache.size() * 320 + 2);
    out += '{';
    bool first = true;
    for (const auto& [key, entry] : cache) {
        if (!first)
            out += ',';
        first = false;
        out += json::text(json::Object(key));
        out += ':';
        out += json::text(encodeEntry(entry));
    }
    out += '}';
    return out;
}

std::optional<AnalysisCache::Map> CacheCodec::decode(std::string_view text)
{
    try {
        AnalysisCache::Map cache;
        CacheReader reader(cache);
        if (!Json::sax_parse(text.begin(), text.end(), &reader))
            return std::nullopt;
        return cache;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace sondrel::core
