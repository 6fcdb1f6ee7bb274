#pragma once

#include <QColor>
#include <QIcon>

namespace sondrel::ui {

// Every named symbol the window shows, in one place. The status symbols (circles, check,
// cross, triangles, pencil, clipping waveform) are drawn by our own code so they look the same
// at any scale and with or without an icon theme; the others come from the freedesktop icon
// theme with a drawn fallback for a bare X server.
enum class Symbol {
    folderBadgePlus,
    folderBadgeQuestionmark,
    folder,
    folderFill,
    arrowClockwise,
    playFill,
    stopFill,
    playCircleFill,
    pauseCircleFill,
    gobackward10,
    goforward10,
    gearshape,
    gearshape2,
    magnifyingglass,
    xmarkCircleFill,
    xmarkCircle,
    checkmarkCircleFill,
    checkmarkCircle,
    circle,
    exclamationmarkTriangleFill,
    exclamationmarkTriangle,
    exclamationmarkCircleFill,
    pencilCircleFill,
    waveformBadgeExclamationmark,
    waveformBadgeMagnifyingglass,
    waveformCircleFill,
    musicNote,
    musicNoteList,
    trash,
    trashFill,
    tag,
    infoCircle,
    waveform,
    internaldrive,
    pencil,
};

// The colours the status symbols are drawn in.
namespace palette {
inline const QColor green { 0x34, 0xc7, 0x59 };
inline const QColor red { 0xff, 0x3b, 0x30 };
inline const QColor orange { 0xff, 0x95, 0x00 };
inline const QColor yellow { 0xff, 0xcc, 0x00 };
inline const QColor blue { 0x00, 0x7a, 0xff };
inline const QColor secondary { 0x8e, 0x8e, 0x93 };
} // namespace palette

// The icon for a symbol, sharp at every size. Status symbols are always drawn; `tint` colours
// them, an invalid colour gives the symbol's own colour (the text colour for monochrome ones).
// The other symbols come from the icon theme when it has them and no tint is given, and are
// drawn otherwise, so they show on a bare X server too.
[[nodiscard]] QIcon symbolIcon(Symbol symbol, const QColor& tint = {});

// The drawn form only, never the theme's: for places that must look the same everywhere.
[[nodiscard]] QIcon drawnSymbolIcon(Symbol symbol, const QColor& tint = {});

// True for the symbols that are always drawn by our own code (the status symbols).
[[nodiscard]] bool isStatusSymbol(Symbol symbol) noexcept;

// The freedesktop icon-naming name a symbol takes from the theme; empty for drawn-only ones.
[[nodiscard]] const char* themeIconName(Symbol symbol) noexcept;

} // namespace sondrel::ui
