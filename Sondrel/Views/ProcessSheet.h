#pragma once

#include "ScannerViewModel.h"

#include <QDialog>
#include <QPointer>
#include <QSet>
#include <QUuid>

#include <filesystem>
#include <optional>

class QCheckBox;
class QColor;
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

    // The scope's counts by status, as the run judges files, and what each step would act on.
    struct Counts {
        int passed = 0;
        int failed = 0; // the kept ones included: they stay failed
        int errors = 0;
        int kept = 0; // failed, but marked DJ ready by the user: no rename, move or trash
        int renamable = 0; // what the rename acts on (not kept, not marked "fake-" already)
        int actionable = 0; // what the move and the trash act on
        int analysed = 0; // what the tag update writes
    };
    // Lists longer than this show their first lines and how many more there are.
    static constexpr int kListedLines = 200;
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
    // A heading and its lines in a short scrolling box.
    void addList(QVBoxLayout* layout, const QString& name, const QString& heading,
        const std::vector<std::string>& lines, const QColor& colour);

    app::ScannerViewModel& m_viewModel;
    const Scope m_scope;
    Counts m_counts;
    std::optional<std::filesystem::path> m_moveDestination;
    bool m_isProcessing = false;
    std::optional<app::ProcessingResults> m_processingResults;

    QWidget* m_form = nullptr;
    QLabel* m_summary = nullptr;
    QLabel* m_kept = nullptr;
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
