#pragma once

#include "ScannerViewModel.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>

#include <array>

namespace sondrel::ui {

// The file table's rows: one per record of the view model's allFiles(), in its order, kept in
// step through the view model's row signals (never a reset for a change of a few rows, so the
// selection and scroll position survive a scan). Lives on the GUI thread.
class FileTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { djReady, transcode, clipping, title, artist, bitrate, actualBitrate, issue, size, filename };
    static constexpr int kColumnCount = 10;

    struct ColumnInfo {
        const char* title;
        const char* identifier;
        int minimumWidth;
        int idealWidth;
        int maximumWidth; // 0: open
    };
    static const std::array<ColumnInfo, kColumnCount> kColumns;

    enum Role {
        // The symbols an icon cell draws, left to right (QVariantList of QIcon).
        SymbolsRole = Qt::UserRole + 1,
        // The record's id (QUuid).
        FileIdRole,
    };

    // The three text styles of the cells.
    static QColor secondaryColor();
    static QColor tertiaryColor();
    static QColor issueColor();

    explicit FileTableModel(app::ScannerViewModel& viewModel, QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    [[nodiscard]] const app::AudioFile& file(int row) const;

    // "1.2 MB": the platform's file-style size, in decimal units.
    [[nodiscard]] static QString sizeText(std::int64_t bytes);

private:
    [[nodiscard]] QVariant display(const app::AudioFile& file, int column) const;
    [[nodiscard]] QVariant foreground(const app::AudioFile& file, int column) const;
    [[nodiscard]] QVariant symbols(const app::AudioFile& file, int column) const;
    [[nodiscard]] QVariant tooltip(const app::AudioFile& file, int column) const;
    [[nodiscard]] QVariant accessibleText(const app::AudioFile& file, int column) const;

    app::ScannerViewModel& m_viewModel;
};

} // namespace sondrel::ui
