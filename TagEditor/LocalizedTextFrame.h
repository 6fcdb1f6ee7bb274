#pragma once

#include "FrameLanguage.h"
#include "TextFrame.h"

#include <string>
#include <utility>

namespace sondrel::tags {

// A comment or unsynchronised-lyrics frame: language, description and content (UTF-8).
struct LocalizedTextFrame : TextFrame {
    LocalizedTextFrame() = default;
    LocalizedTextFrame(FrameLanguage frameLanguage, std::string description, std::string text)
        : TextFrame(std::move(text))
        , language(frameLanguage)
        , contentDescription(std::move(description))
    {
    }

    FrameLanguage language = FrameLanguage::unknown;
    std::string contentDescription;
};

} // namespace sondrel::tags
