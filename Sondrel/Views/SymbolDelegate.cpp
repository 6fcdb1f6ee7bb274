#include "SymbolDelegate.h"

#include "FileTableModel.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>

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

} // namespace sondrel::ui
