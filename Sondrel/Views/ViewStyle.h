#pragma once

#include "Symbols.h"

#include <QColor>
#include <QString>

#include <string_view>

class QLabel;
class QWidget;

namespace sondrel::ui {

// The few text styles the shell's windows share, on top of the platform's fonts.
enum class TextStyle { title, headline, body, caption, captionSemibold };

// A label in a style, optionally coloured (an invalid colour keeps the palette's text colour,
// `secondaryText()` gives the dimmed one).
[[nodiscard]] QLabel* makeLabel(
    const QString& text, TextStyle style, const QColor& colour = {}, QWidget* parent = nullptr);
void applyTextStyle(QLabel* label, TextStyle style, const QColor& colour = {});
// The dimmed text colour of captions.
[[nodiscard]] QColor secondaryText();
// The QString of UTF-8 text from the layers below (tags, paths, verdict texts).
[[nodiscard]] inline QString text(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
// A label showing a symbol `size` pixels high.
[[nodiscard]] QLabel* makeSymbolLabel(
    Symbol symbol, int size, const QColor& tint = {}, QWidget* parent = nullptr);

} // namespace sondrel::ui
