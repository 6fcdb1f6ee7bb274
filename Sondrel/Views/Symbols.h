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

// The icon for a symbol. `tint` colours the drawn status symbols; an invalid colour gives the
// symbol's own colour (or the text colour for monochrome ones).
[[nodiscard]] QIcon symbolIcon(Symbol symbol, const QColor& tint = {});

} // namespace sondrel::ui
