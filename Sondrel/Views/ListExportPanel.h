#pragma once

#include "ApplicationShell.h"
#include "AudioFile.h"
#include "ListExport.h"

#include <QFileDialog>

#include <filesystem>
#include <optional>
#include <vector>

namespace sondrel::ui {

// File > "Export List...": a save dialog for the rows the table shows. The chosen name's
// extension picks the format (CSV, JSON Lines or an M3U8 playlist); a name without one gets the
// selected type's. The dialog itself asks before an existing file is replaced, and the list is
// then written off the GUI thread, atomically, replacing only the file the user agreed to.
// Deletes itself once cancelled or once the list is written.
class ListExportPanel : public QFileDialog {
    Q_OBJECT

public:
    ListExportPanel(std::vector<app::AudioFile> files, const std::optional<std::filesystem::path>& library,
        shell::Report report, QWidget* parent);

    // The format written for a chosen name: its extension's, else the selected type's.
    [[nodiscard]] app::ListExport::Format formatFor(const QString& chosen) const;

signals:
    // The write has ended; `error` is empty on success.
    void written(const QString& path, const QString& error);

private:
    void write(const QString& chosen);

    std::vector<app::AudioFile> m_files;
    shell::Report m_report;
};

} // namespace sondrel::ui
