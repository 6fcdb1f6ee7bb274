#pragma once

#include "ScannerViewModel.h"

#include <QDialog>
#include <QPointer>
#include <QSet>
#include <QUuid>

#include <filesystem>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QVBoxLayout;

namespace sondrel::ui {

class BusyIndicator;

// The window-modal dialog in which the user chooses what happens to the failed files of a scope
// (the whole library, or the given files): rename, move, trash and/or tag. It warns before
// actions that break DJ software's links, runs the view model's processing run and then shows
// the run's results in place of the form, once. Closing it while a run is in progress leaves the
// run going; its results are then dropped.
class ProcessSheet : public QDialog {
    Q_OBJECT

public:
    using Scope = std::optional<QSet<QUuid>>;

    ProcessSheet(app::ScannerViewModel& viewModel, Scope fileIDs, QWidget* parent);

    // The scope's counts by each result's own verdict; files without a result count in neither.
    struct Counts {
        int passed = 0;
        int failed = 0;
        int errors = 0;
    };
    [[nodiscard]] static Counts countFiles(const std::vector<app::AudioFile>& files, const Scope& scope);
    [[nodiscard]] const Counts& counts() const noexcept { return m_counts; }

    [[nodiscard]] bool hasAction() const noexcept;
    [[nodiscard]] bool hasRekordboxBreakingAction() const noexcept;
    [[nodiscard]] bool canProcess() const noexcept;
    [[nodiscard]] bool isProcessing() const noexcept { return m_isProcessing; }
    [[nodiscard]] const std::optional<std::filesystem::path>& moveDestination() const noexcept
    {
        return m_moveDestination;
    }
    [[nodiscard]] const std::optional<app::ProcessingResults>& processingResults() const noexcept
    {
        return m_processingResults;
    }

    // Opens the folder chooser; a confirmed folder becomes the move destination.
    void selectMoveDestination();
    void setMoveDestination(const std::filesystem::path& folder);
    // "Process": asks first when the choices break DJ software's links, else starts the run.
    void requestProcess();
    // Replaces the form with the results.
    void showResults(const app::ProcessingResults& results);

public slots:
    // The run's tag-writing progress, shown under the form while the run goes on.
    void showProgress(int position, int total);

private:
    void buildForm();
    void refresh();
    void startRun();
    void onMoveToggled(bool checked);
    void onDeleteToggled(bool checked);

    app::ScannerViewModel& m_viewModel;
    const Scope m_scope;
    Counts m_counts;
    std::optional<std::filesystem::path> m_moveDestination;
    bool m_isProcessing = false;
    std::optional<app::ProcessingResults> m_processingResults;

    QWidget* m_form = nullptr;
    QLabel* m_summary = nullptr;
    QCheckBox* m_rename = nullptr;
    QCheckBox* m_move = nullptr;
    QCheckBox* m_delete = nullptr;
    QCheckBox* m_updateMetadata = nullptr;
    QCheckBox* m_mixxxCrate = nullptr; // only where Mixxx keeps a library
    QLineEdit* m_crateName = nullptr;
    QWidget* m_destinationRow = nullptr;
    QLabel* m_destinationName = nullptr;
    QLabel* m_progress = nullptr;
    QPushButton* m_processButton = nullptr;
    BusyIndicator* m_processSpinner = nullptr;
    QPointer<QMessageBox> m_warning;
    std::optional<app::ScannerViewModel::RunId> m_run; // the run this sheet started
};

} // namespace sondrel::ui
