#pragma once

#include <QStyledItemDelegate>

namespace sondrel::ui {

// Draws the symbols of an icon cell (FileTableModel::SymbolsRole) side by side, centred; a cell
// without symbols is drawn as text, and a text the cell cuts short shows whole in a tooltip
// (unless the cell has a tooltip of its own).
class SymbolDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static constexpr int kSymbolSize = 16;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
        const QModelIndex& index) override;

    // Whether the cell's text is wider than the room the style gives it (drawn elided).
    [[nodiscard]] bool cutsText(const QStyleOptionViewItem& option, const QModelIndex& index) const;
};

} // namespace sondrel::ui
