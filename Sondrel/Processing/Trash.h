#pragma once

#include "Result.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace sondrel::app {

// The freedesktop.org Trash, which desktops list and restore from.
//
// A file on the file system of the home Trash ($XDG_DATA_HOME/Trash, else
// ~/.local/share/Trash) goes there; a file on another file system goes to the Trash at the top
// of that file system: $topdir/.Trash/$uid when $topdir/.Trash is a real folder with the sticky
// bit, else $topdir/.Trash-$uid, made when missing and used only when it is a real folder owned
// by the user. Nothing is ever copied across file systems.
//
// The ".trashinfo" file is created exclusively before the file moves, with the original path
// percent-encoded (absolute for the home Trash, relative to $topdir otherwise), so two
// processes never take one name and any byte of a name survives. An info file whose file never
// arrived (a trash killed in between) is removed when its name comes up again: see Trash.cpp. A name too long
// to carry the
// ".trashinfo" suffix is shortened (on a UTF-8 character boundary) in the Trash; a taken name
// becomes "Song (2).mp3", "Song (3).mp3", ...
//
// Stateless and synchronous; blocks on the disk. Symbolic links are trashed as links.
class Trash {
public:
    Trash() = delete;

    // Returns where the file now is, or the system's text for the call that failed.
    [[nodiscard]] static Result<std::filesystem::path> moveToTrash(const std::filesystem::path& path);

    // "/Music/per%cent 50%.mp3" gives "/Music/per%25cent%2050%25.mp3": every byte but the
    // unreserved ones of RFC 2396 and "/" as %XX.
    [[nodiscard]] static std::string percentEncoded(std::string_view path);
};

} // namespace sondrel::app
