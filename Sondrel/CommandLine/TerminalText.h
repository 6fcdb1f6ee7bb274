#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sondrel::app {

// Text for a table read on a terminal: file names may hold anything a name can.
class TerminalText {
public:
    TerminalText() = delete;

    // Control characters (C0, DEL and the C1 range of UTF-8 text) as "\x1b" or "\u009b", so a
    // name cannot move the cursor or recolour the terminal. Expects valid UTF-8.
    [[nodiscard]] static std::string escapedControls(std::string_view text);

    // Columns the UTF-8 `text` takes on a terminal: wide (CJK) characters take two, combining
    // marks none. Expects text without control characters.
    [[nodiscard]] static std::size_t displayWidth(std::string_view text);

    // `text` followed by spaces up to `width` columns; unchanged when it is wider.
    [[nodiscard]] static std::string padded(std::string text, std::size_t width);
};

} // namespace sondrel::app
