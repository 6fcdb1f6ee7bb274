#pragma once

#include "Id3Frame.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace sondrel::tags {

// A numbered genre of the ID3v1 genre list (0 is Blues); the number is kept, not its name.
enum class Genre : std::uint8_t {};

// Written as "(" + number + ")" when there is an identifier, followed by the description.
struct GenreFrame : Id3Frame {
    GenreFrame() = default;
    GenreFrame(std::optional<Genre> genre, std::optional<std::string> text)
        : identifier(genre)
        , description(std::move(text))
    {
    }

    std::optional<Genre> identifier;
    std::optional<std::string> description;
};

} // namespace sondrel::tags
