#include "Symbols.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sondrel::ui {

namespace {

// Every symbol is drawn on a 24 by 24 grid, scaled to the target square.
constexpr qreal kGrid = 24.0;
constexpr qreal kStroke = 1.8;

// The colour a symbol has when no tint is given; invalid means the text colour.
QColor ownColour(Symbol symbol)
{
    switch (symbol) {
    case Symbol::checkmarkCircleFill:
    case Symbol::checkmarkCircle:
        return palette::green;
    case Symbol::xmarkCircleFill:
    case Symbol::xmarkCircle:
        return palette::red;
    case Symbol::exclamationmarkTriangleFill:
    case Symbol::exclamationmarkTriangle:
    case Symbol::exclamationmarkCircleFill:
    case Symbol::waveformBadgeExclamationmark:
        return palette::orange;
    case Symbol::pencilCircleFill:
        return palette::blue;
    case Symbol::circle:
    case Symbol::folderBadgeQuestionmark:
        return palette::secondary;
    default:
        return {};
    }
}

QPen strokePen(const QColor& colour, qreal width = kStroke)
{
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void disc(QPainter& painter, const QColor& colour)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QPointF(12, 12), 10.5, 10.5);
}

void ring(QPainter& painter, const QColor& colour)
{
    painter.setPen(strokePen(colour));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(12, 12), 9.6, 9.6);
}

void check(QPainter& painter, const QColor& colour, qreal width = 2.2)
{
    painter.setPen(strokePen(colour, width));
    painter.setBrush(Qt::NoBrush);
    const QPointF points[] = { { 7.2, 12.4 }, { 10.6, 15.8 }, { 16.8, 8.6 } };
    painter.drawPolyline(points, 3);
}

void cross(QPainter& painter, const QColor& colour, qreal width = 2.2)
{
    painter.setPen(strokePen(colour, width));
    painter.drawLine(QPointF(8.3, 8.3), QPointF(15.7, 15.7));
    painter.drawLine(QPointF(15.7, 8.3), QPointF(8.3, 15.7));
}

// An exclamation mark centred on x, its stem from top to the dot.
void exclamation(QPainter& painter, const QColor& colour, qreal x, qreal top, qreal bottom, qreal width = 2.2)
{
    painter.setPen(strokePen(colour, width));
    painter.drawLine(QPointF(x, top), QPointF(x, bottom - 3.4));
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QPointF(x, bottom), width * 0.6, width * 0.6);
}

QPainterPath triangle()
{
    QPainterPath path;
    path.moveTo(12, 2.6);
    path.lineTo(22.2, 20.6);
    path.lineTo(1.8, 20.6);
    path.closeSubpath();
    return path;
}

QPainterPath pencilShape(qreal scale, QPointF centre)
{
    // A pencil at 45 degrees: body, then the tip.
    QPainterPath path;
    path.moveTo(-1.6, -7.0);
    path.lineTo(1.6, -7.0);
    path.lineTo(1.6, 4.2);
    path.lineTo(0.0, 7.4);
    path.lineTo(-1.6, 4.2);
    path.closeSubpath();
    QTransform transform;
    transform.translate(centre.x(), centre.y());
    transform.rotate(45);
    transform.scale(scale, scale);
    return transform.map(path);
}

void waveBars(QPainter& painter, const QColor& colour, QRectF box, qreal width)
{
    static constexpr qreal heights[] = { 0.35, 0.75, 1.0, 0.6, 0.3 };
    const qreal step = box.width() / 5.0;
    painter.setPen(strokePen(colour, width));
    for (int bar = 0; bar < 5; ++bar) {
        const qreal x = box.left() + step * (bar + 0.5);
        const qreal half = box.height() * heights[bar] / 2.0;
        painter.drawLine(QPointF(x, box.center().y() - half), QPointF(x, box.center().y() + half));
    }
}

QPainterPath folderShape()
{
    QPainterPath path;
    path.moveTo(2.5, 6.0);
    path.quadTo(2.5, 4.5, 4.0, 4.5);
    path.lineTo(9.0, 4.5);
    path.lineTo(11.0, 6.8);
    path.lineTo(20.0, 6.8);
    path.quadTo(21.5, 6.8, 21.5, 8.3);
    path.lineTo(21.5, 18.0);
    path.quadTo(21.5, 19.5, 20.0, 19.5);
    path.lineTo(4.0, 19.5);
    path.quadTo(2.5, 19.5, 2.5, 18.0);
    path.closeSubpath();
    return path;
}

void gear(QPainter& painter, const QColor& colour, QPointF centre, qreal radius)
{
    QPainterPath path;
    constexpr int kTeeth = 8;
    for (int index = 0; index < kTeeth * 2; ++index) {
        const qreal angle = std::numbers::pi * index / kTeeth;
        const qreal outer = index % 2 == 0 ? radius : radius * 0.78;
        const qreal spread = std::numbers::pi / kTeeth * 0.45;
        const QPointF a = centre + QPointF(std::cos(angle - spread), std::sin(angle - spread)) * outer;
        const QPointF b = centre + QPointF(std::cos(angle + spread), std::sin(angle + spread)) * outer;
        if (index == 0)
            path.moveTo(a);
        else
            path.lineTo(a);
        path.lineTo(b);
    }
    path.closeSubpath();
    path.addEllipse(centre, radius * 0.34, radius * 0.34);
    path.setFillRule(Qt::OddEvenFill);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(path);
}

void circularArrow(QPainter& painter, const QColor& colour, bool clockwise, qreal radius)
{
    painter.setPen(strokePen(colour));
    painter.setBrush(Qt::NoBrush);
    const QRectF box(12 - radius, 12 - radius, radius * 2, radius * 2);
    // Qt's angles run counter-clockwise from three o'clock, in sixteenths of a degree.
    if (clockwise) {
        painter.drawArc(box, 60 * 16, 300 * 16);
    } else {
        painter.drawArc(box, 180 * 16 - 60 * 16, -300 * 16);
    }
    const qreal angle = (clockwise ? 60.0 : 120.0) * std::numbers::pi / 180.0;
    const QPointF tip(12 + radius * std::cos(angle), 12 - radius * std::sin(angle));
    const qreal direction = clockwise ? 1.0 : -1.0;
    QPainterPath head;
    head.moveTo(tip + QPointF(direction * 3.2, 0.4));
    head.lineTo(tip + QPointF(-direction * 1.2, -3.0));
    head.lineTo(tip + QPointF(-direction * 0.6, 3.0));
    head.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(head);
}

// Text as a path fitted into `box` by its height, so it scales with the symbol whatever the
// paint device's resolution.
void smallText(
    QPainter& painter, const QColor& colour, const QString& text, QRectF box, qreal height, bool bold)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(100);
    font.setBold(bold);
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF bounds = path.boundingRect();
    if (bounds.isEmpty())
        return;
    const qreal scale = height / bounds.height();
    QTransform transform;
    transform.translate(box.center().x(), box.center().y());
    transform.scale(scale, scale);
    transform.translate(-bounds.center().x(), -bounds.center().y());
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(transform.map(path));
}

void magnifier(QPainter& painter, const QColor& colour, QPointF centre, qreal radius, qreal width)
{
    painter.setPen(strokePen(colour, width));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, radius, radius);
    const QPointF start = centre + QPointF(radius, radius) * 0.72;
    painter.drawLine(start, start + QPointF(radius, radius) * 0.75);
}

// Draws `symbol` on the 24-unit grid in `colour`; `paper` is the colour of marks cut out of a
// filled shape.
void drawSymbol(QPainter& painter, Symbol symbol, const QColor& colour, const QColor& paper)
{
    switch (symbol) {
    case Symbol::circle:
        ring(painter, colour);
        return;
    case Symbol::checkmarkCircleFill:
        disc(painter, colour);
        check(painter, paper);
        return;
    case Symbol::checkmarkCircle:
        ring(painter, colour);
        check(painter, colour, kStroke);
        return;
    case Symbol::xmarkCircleFill:
        disc(painter, colour);
        cross(painter, paper);
        return;
    case Symbol::xmarkCircle:
        ring(painter, colour);
        cross(painter, colour, kStroke);
        return;
    case Symbol::exclamationmarkTriangleFill:
        painter.setPen(strokePen(colour, 2.0));
        painter.setBrush(colour);
        painter.drawPath(triangle());
        exclamation(painter, paper, 12, 8.6, 17.6, 2.0);
        return;
    case Symbol::exclamationmarkTriangle:
        painter.setPen(strokePen(colour));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(triangle());
        exclamation(painter, colour, 12, 8.8, 17.4, 1.8);
        return;
    case Symbol::exclamationmarkCircleFill:
        disc(painter, colour);
        exclamation(painter, paper, 12, 6.4, 17.0);
        return;
    case Symbol::pencilCircleFill:
        disc(painter, colour);
        painter.setPen(Qt::NoPen);
        painter.setBrush(paper);
        painter.drawPath(pencilShape(0.95, { 12, 12 }));
        return;
    case Symbol::pencil:
        painter.setPen(strokePen(colour, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(pencilShape(1.35, { 12, 12 }));
        return;
    case Symbol::waveform:
        waveBars(painter, colour, QRectF(3, 3, 18, 18), 2.0);
        return;
    case Symbol::waveformBadgeExclamationmark:
        waveBars(painter, colour, QRectF(1, 2, 15, 16), 1.9);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(QPointF(17.5, 17.5), 6.2, 6.2);
        exclamation(painter, paper, 17.5, 13.9, 20.6, 1.8);
        return;
    case Symbol::waveformBadgeMagnifyingglass:
        waveBars(painter, colour, QRectF(1, 2, 14, 15), 1.8);
        magnifier(painter, colour, { 16.5, 15.5 }, 3.6, 1.8);
        return;
    case Symbol::waveformCircleFill:
        disc(painter, colour);
        waveBars(painter, paper, QRectF(6, 6.5, 12, 11), 1.6);
        return;
    case Symbol::folder:
        painter.setPen(strokePen(colour, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(folderShape());
        return;
    case Symbol::folderFill:
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawPath(folderShape());
        return;
    case Symbol::folderBadgePlus:
        painter.setPen(strokePen(colour, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(folderShape());
        painter.setPen(strokePen(colour, 2.0));
        painter.drawLine(QPointF(12, 9.8), QPointF(12, 16.6));
        painter.drawLine(QPointF(8.6, 13.2), QPointF(15.4, 13.2));
        return;
    case Symbol::folderBadgeQuestionmark:
        painter.setPen(strokePen(colour, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(folderShape());
        smallText(painter, colour, QStringLiteral("?"), QRectF(6, 7.4, 12, 12), 7.6, true);
        return;
    case Symbol::arrowClockwise:
        circularArrow(painter, colour, true, 8.0);
        return;
    case Symbol::gobackward10:
    case Symbol::goforward10:
        circularArrow(painter, colour, symbol == Symbol::goforward10, 9.0);
        smallText(painter, colour, QStringLiteral("10"), QRectF(5, 6.5, 14, 11), 5.6, true);
        return;
    case Symbol::playFill: {
        QPainterPath path;
        path.moveTo(7, 4);
        path.lineTo(20, 12);
        path.lineTo(7, 20);
        path.closeSubpath();
        painter.setPen(strokePen(colour, 1.2));
        painter.setBrush(colour);
        painter.drawPath(path);
        return;
    }
    case Symbol::stopFill:
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawRoundedRect(QRectF(5, 5, 14, 14), 2.2, 2.2);
        return;
    case Symbol::playCircleFill: {
        disc(painter, colour);
        QPainterPath path;
        path.moveTo(9.6, 7.4);
        path.lineTo(17.0, 12);
        path.lineTo(9.6, 16.6);
        path.closeSubpath();
        painter.setPen(Qt::NoPen);
        painter.setBrush(paper);
        painter.drawPath(path);
        return;
    }
    case Symbol::pauseCircleFill:
        disc(painter, colour);
        painter.setPen(Qt::NoPen);
        painter.setBrush(paper);
        painter.drawRoundedRect(QRectF(8.4, 7.4, 2.6, 9.2), 0.8, 0.8);
        painter.drawRoundedRect(QRectF(13.0, 7.4, 2.6, 9.2), 0.8, 0.8);
        return;
    case Symbol::gearshape:
        gear(painter, colour, { 12, 12 }, 10.0);
        return;
    case Symbol::gearshape2:
        gear(painter, colour, { 9, 9.5 }, 7.6);
        gear(painter, colour, { 17.4, 17.2 }, 5.6);
        return;
    case Symbol::magnifyingglass:
        magnifier(painter, colour, { 10, 10 }, 6.6, 2.0);
        return;
    case Symbol::trash:
    case Symbol::trashFill: {
        painter.setPen(strokePen(colour, 1.6));
        painter.setBrush(symbol == Symbol::trashFill ? QBrush(colour) : QBrush(Qt::NoBrush));
        painter.drawLine(QPointF(4, 6), QPointF(20, 6));
        painter.drawLine(QPointF(9.5, 6), QPointF(10, 3.5));
        painter.drawLine(QPointF(10, 3.5), QPointF(14, 3.5));
        painter.drawLine(QPointF(14, 3.5), QPointF(14.5, 6));
        QPainterPath bin;
        bin.moveTo(5.8, 6);
        bin.lineTo(7, 20.5);
        bin.lineTo(17, 20.5);
        bin.lineTo(18.2, 6);
        painter.drawPath(bin);
        const QColor lines = symbol == Symbol::trashFill ? paper : colour;
        painter.setPen(strokePen(lines, 1.3));
        painter.drawLine(QPointF(10, 9.5), QPointF(10.3, 17));
        painter.drawLine(QPointF(14, 9.5), QPointF(13.7, 17));
        return;
    }
    case Symbol::tag: {
        QPainterPath path;
        path.moveTo(3, 4.5);
        path.quadTo(3, 3, 4.5, 3);
        path.lineTo(11.5, 3);
        path.lineTo(21, 12.5);
        path.lineTo(12.5, 21);
        path.lineTo(3, 11.5);
        path.closeSubpath();
        painter.setPen(strokePen(colour, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(QPointF(7.6, 7.6), 1.6, 1.6);
        return;
    }
    case Symbol::infoCircle:
        ring(painter, colour);
        painter.setPen(strokePen(colour, 2.0));
        painter.drawLine(QPointF(12, 10.8), QPointF(12, 17));
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(QPointF(12, 7.4), 1.3, 1.3);
        return;
    case Symbol::musicNote:
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(QPointF(8.5, 17.5), 3.6, 2.9);
        painter.setPen(strokePen(colour, 1.8));
        painter.drawLine(QPointF(11.6, 17), QPointF(11.6, 3.5));
        painter.drawLine(QPointF(11.6, 3.5), QPointF(17.5, 6.5));
        return;
    case Symbol::musicNoteList:
        painter.setPen(strokePen(colour, 1.8));
        painter.drawLine(QPointF(3, 5), QPointF(12, 5));
        painter.drawLine(QPointF(3, 10), QPointF(12, 10));
        painter.drawLine(QPointF(3, 15), QPointF(9, 15));
        painter.drawLine(QPointF(19, 17), QPointF(19, 3.5));
        painter.drawLine(QPointF(19, 3.5), QPointF(22, 5));
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(QPointF(16, 17.6), 3.4, 2.7);
        return;
    case Symbol::internaldrive:
        painter.setPen(strokePen(colour, 1.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(2.5, 7, 19, 10), 2.5, 2.5);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(QPointF(17.5, 12), 1.3, 1.3);
        return;
    }
}

// Paints a symbol at any size: the grid is scaled to the largest centred square of the target.
class SymbolIconEngine final : public QIconEngine {
public:
    SymbolIconEngine(Symbol symbol, QColor tint)
        : m_symbol(symbol)
        , m_tint(std::move(tint))
    {
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        QColor colour = m_tint.isValid() ? m_tint : ownColour(m_symbol);
        if (!colour.isValid())
            colour = QGuiApplication::palette().color(QPalette::WindowText);
        if (mode == QIcon::Disabled)
            colour.setAlphaF(colour.alphaF() * 0.35f);
        const QColor paper = QColor(Qt::white);

        const qreal side = std::min(rect.width(), rect.height());
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setRenderHint(QPainter::TextAntialiasing);
        painter->translate(rect.x() + (rect.width() - side) / 2.0, rect.y() + (rect.height() - side) / 2.0);
        painter->scale(side / kGrid, side / kGrid);
        if (mode == QIcon::Disabled)
            painter->setOpacity(0.6);
        drawSymbol(*painter, m_symbol, colour, paper);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        QPixmap pixmap(size * scale);
        pixmap.fill(Qt::transparent);
        pixmap.setDevicePixelRatio(scale);
        if (!size.isEmpty()) {
            QPainter painter(&pixmap);
            paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        }
        return pixmap;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }

    QIconEngine* clone() const override { return new SymbolIconEngine(m_symbol, m_tint); }

    QString key() const override { return QStringLiteral("SondrelSymbol"); }

private:
    const Symbol m_symbol;
    const QColor m_tint;
};

} // namespace

bool isStatusSymbol(Symbol symbol) noexcept
{
    switch (symbol) {
    case Symbol::circle:
    case Symbol::checkmarkCircleFill:
    case Symbol::checkmarkCircle:
    case Symbol::xmarkCircleFill:
    case Symbol::xmarkCircle:
    case Symbol::exclamationmarkTriangleFill:
    case Symbol::exclamationmarkTriangle:
    case Symbol::exclamationmarkCircleFill:
    case Symbol::pencilCircleFill:
    case Symbol::pencil:
    case Symbol::waveformBadgeExclamationmark:
        return true;
    default:
        return false;
    }
}

const char* themeIconName(Symbol symbol) noexcept
{
    // Names of the freedesktop icon naming standard, so that any theme has them.
    switch (symbol) {
    case Symbol::folderBadgePlus:
        return "document-open";
    case Symbol::folder:
    case Symbol::folderFill:
        return "folder";
    case Symbol::arrowClockwise:
        return "view-refresh";
    case Symbol::playFill:
    case Symbol::playCircleFill:
        return "media-playback-start";
    case Symbol::stopFill:
        return "media-playback-stop";
    case Symbol::pauseCircleFill:
        return "media-playback-pause";
    case Symbol::gobackward10:
        return "media-seek-backward";
    case Symbol::goforward10:
        return "media-seek-forward";
    case Symbol::gearshape:
    case Symbol::gearshape2:
        return "system-run";
    case Symbol::magnifyingglass:
        return "edit-find";
    case Symbol::trash:
        return "user-trash";
    case Symbol::trashFill:
        return "edit-delete";
    case Symbol::infoCircle:
        return "dialog-information";
    case Symbol::musicNote:
    case Symbol::musicNoteList:
        return "audio-x-generic";
    case Symbol::internaldrive:
        return "drive-harddisk";
    default:
        return "";
    }
}

QIcon drawnSymbolIcon(Symbol symbol, const QColor& tint)
{
    return QIcon(new SymbolIconEngine(symbol, tint));
}

QIcon symbolIcon(Symbol symbol, const QColor& tint)
{
    QIcon drawn = drawnSymbolIcon(symbol, tint);
    const char* name = themeIconName(symbol);
    // A tint asks for a colour the theme cannot promise.
    if (tint.isValid() || isStatusSymbol(symbol) || *name == '\0')
        return drawn;
    return QIcon::fromTheme(QString::fromLatin1(name), drawn);
}

} // namespace sondrel::ui
