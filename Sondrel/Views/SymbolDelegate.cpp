#include "SymbolDelegate.h"

#include "FileTableModel.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QIcon>
#include <QPainter>
#include <QToolTip>

namespace sondrel::ui {

void SymbolDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QVariantList symbols = index.data(FileTableModel::SymbolsRole).toList();
    if (symbols.isEmpty()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.icon = {};
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    constexpr int spacing = 3;
    const int count = static_cast<int>(symbols.size());
    // The pencil of an override is smaller than the verdict beside it.
    const int small = count > 1 ? 12 : kSymbolSize;
    const int width = small * (count - 1) + kSymbolSize + spacing * (count - 1);
    int x = option.rect.center().x() - width / 2 + 1;
    for (int i = 0; i < count; ++i) {
        const int side = i + 1 < count ? small : kSymbolSize;
        const QRect target(x, option.rect.center().y() - side / 2 + 1, side, side);
        symbols[i].value<QIcon>().paint(painter, target);
        x += side + spacing;
    }
}

bool SymbolDelegate::cutsText(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    if (item.text.isEmpty())
        return false;
    const QWidget* widget = item.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    // The room the style draws the text in, less the margins it keeps on both sides.
    const QRect room = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    return item.fontMetrics.horizontalAdvance(item.text) > room.width() - 2 * margin;
}

bool SymbolDelegate::helpEvent(
    QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (event->type() != QEvent::ToolTip || !index.isValid() || index.data(Qt::ToolTipRole).isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    if (!cutsText(option, index)) {
        QToolTip::hideText();
        event->ignore();
        return false;
    }
    QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view, option.rect);
    return true;
}

} // namespace sondrel::ui
