#pragma once

#include "FrameName.h"
#include "Id3Frame.h"
#include "Id3TagProperties.h"
#include "PreservedFrame.h"

#include <map>
#include <memory>
#include <vector>

namespace sondrel::tags {

// An ID3v2 tag: a frame table with at most one frame per name, and the frames the module read
// but does not model. A plain value; copies share the (immutable) frames.
struct Id3Tag {
    Id3TagProperties properties;
    // Setting an entry replaces the frame stored under that name. A null entry is not written.
    std::map<FrameName, std::shared_ptr<const Id3Frame>> frames;
    // In the order they were read. A rewrite carries over those whose version is the version
    // written, after the modelled frames (see TagEditor::write).
    std::vector<PreservedFrame> preservedFrames;

    // Version 2.3, size 0, no frames.
    [[nodiscard]] static Id3Tag emptyVersion3() noexcept { return {}; }
};

} // namespace sondrel::tags
