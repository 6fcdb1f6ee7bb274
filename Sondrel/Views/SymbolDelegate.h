#pragma once

#include <QStyledItemDelegate>

namespace sondrel::ui {

// Draws the symbols of an icon cell (FileTableModel::SymbolsRole) side by side, centred; a cell
// without symbols is drawn as text.
class SymbolDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static constexpr int kSymbolSize = 16;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace sondrel::ui
