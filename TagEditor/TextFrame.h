#pragma once

#include "Id3Frame.h"

#include <string>
#include <utility>

namespace sondrel::tags {

// A text frame; the content is UTF-8.
struct TextFrame : Id3Frame {
    TextFrame() = default;
    explicit TextFrame(std::string text)
        : content(std::move(text))
    {
    }

    std::string content;
};

} // namespace sondrel::tags
