#pragma once

#include "AnalysisCache.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace sondrel::core {

// The cache file's JSON: one object whose members are cache keys, each holding one entry object.
// Stateless. Dates are seconds since 2001-01-01T00:00:00Z in a double, which keeps microseconds.
class CacheCodec {
public:
    CacheCodec() = delete;

    // Compact, floats in their shortest form, "userOverride" only when there is one. Fails
    // (throws) on a value JSON cannot hold; callers pass finite values.
    [[nodiscard]] static std::string encode(const AnalysisCache::Map& cache);
    // None when the text is not such an object or any entry lacks a required member or holds a
    // value of the wrong type or range: one bad entry rejects the whole file. Members may come in
    // any order; an absent or null "userOverride" means none. Entries are decoded one at a time
    // as the text is read, so no document tree of the whole file is ever held.
    [[nodiscard]] static std::optional<AnalysisCache::Map> decode(std::string_view text);

    [[nodiscard]] static double secondsSinceReferenceDate(std::chrono::system_clock::time_point date);
};

} // namespace sondrel::core
