#pragma once

#include "Symbols.h"

#include <QColor>
#include <QString>

class QLabel;
class QWidget;

namespace sondrel::ui {

// The few text styles the shell's windows share, on top of the platform's fonts.
enum class TextStyle { title, headline, body, caption, captionSemibold };

// A label in a style, optionally coloured (an invalid colour keeps the palette's text colour,
// `secondaryText()` gives the dimmed one).
[[nodiscard]] QLabel* makeLabel(const QString& text, TextStyle style, const QColor& colour = {}, QWidget* parent = nullptr);
void applyTextStyle(QLabel* label, TextStyle style, const QColor& colour = {});
// The dimmed text colour of captions.
[[nodiscard]] QColor secondaryText();
// A label showing a symbol `size` pixels high.
[[nodiscard]] QLabel* makeSymbolLabel(Symbol symbol, int size, const QColor& tint = {}, QWidget* parent = nullptr);

} // namespace sondrel::ui
