#pragma once

#include "Id3Frame.h"

#include <optional>

namespace sondrel::tags {

// trackPosition and discPosition: "part" or "part/total".
struct PartOfTotalFrame : Id3Frame {
    PartOfTotalFrame() = default;
    PartOfTotalFrame(int partNumber, std::optional<int> totalCount)
        : part(partNumber)
        , total(totalCount)
    {
    }

    int part = 0;
    std::optional<int> total;
};

} // namespace sondrel::tags
