#include "ViewStyle.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>

namespace sondrel::ui {

void applyTextStyle(QLabel* label, TextStyle style, const QColor& colour)
{
    QFont font = QApplication::font();
    const qreal base = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    switch (style) {
    case TextStyle::title:
        font.setPointSizeF(base * 1.9);
        font.setBold(true);
        break;
    case TextStyle::headline:
        font.setPointSizeF(base * 1.15);
        font.setBold(true);
        break;
    case TextStyle::body:
        break;
    case TextStyle::caption:
        font.setPointSizeF(base * 0.88);
        break;
    case TextStyle::captionSemibold:
        font.setPointSizeF(base * 0.88);
        font.setWeight(QFont::DemiBold);
        break;
    }
    label->setFont(font);
    if (colour.isValid()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, colour);
        label->setPalette(palette);
    }
}

QLabel* makeLabel(const QString& text, TextStyle style, const QColor& colour, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    applyTextStyle(label, style, colour);
    return label;
}

QColor secondaryText()
{
    QColor colour = QApplication::palette().color(QPalette::WindowText);
    colour.setAlphaF(0.6f);
    return colour;
}

QLabel* makeSymbolLabel(Symbol symbol, int size, const QColor& tint, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(symbolIcon(symbol, tint).pixmap(size, size, QIcon::Normal));
    label->setFixedSize(size, size);
    return label;
}

} // namespace sondrel::ui
