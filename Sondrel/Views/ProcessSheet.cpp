#include "ProcessSheet.h"

#include "BusyIndicator.h"
#include "ChooserFolders.h"
#include "MixxxLibrary.h"
#include "PathText.h"
#include "Processing.h"
#include "Symbols.h"
#include "ViewStyle.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace sondrel::ui {

namespace {

constexpr int kFormWidth = 450;
constexpr int kResultsWidth = 400;
constexpr int kMargin = 20;

QString number(int value)
{
    return QString::number(value);
}

// A switch with its caption under it, indented to the switch's text.
QCheckBox* addSwitch(QVBoxLayout* layout, const QString& text, QLabel*& caption, const QString& name)
{
    auto* box = new QCheckBox(text);
    box->setObjectName(name);
    layout->addWidget(box);
    caption = makeLabel({}, TextStyle::caption, secondaryText());
    caption->setObjectName(name + QStringLiteral("Caption"));
    caption->setContentsMargins(24, 0, 0, 4);
    caption->setWordWrap(true);
    layout->addWidget(caption);
    return box;
}

} // namespace

ProcessSheet::ProcessSheet(app::ScannerViewModel& viewModel, Scope fileIDs, QWidget* parent)
    : QDialog(parent)
    , m_viewModel(viewModel)
    , m_scope(std::move(fileIDs))
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(m_scope ? QStringLiteral("Process Selected") : QStringLiteral("Process All"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    buildForm();
    layout->addWidget(m_form);
    // The sheet takes its page's size: the form's, then the shorter results'.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_form->setFixedWidth(kFormWidth - 2 * kMargin);
    connect(&m_viewModel, &app::ScannerViewModel::allFilesChanged, this, [this] {
        if (!m_processingResults)
            refresh();
    });
    // The progress of this sheet's own run ("Metadata update: i/n").
    connect(&m_viewModel, &app::ScannerViewModel::processingProgress, this,
        [this](app::ScannerViewModel::RunId run, int position, int total) {
            if (m_run && run == *m_run)
                showProgress(position, total);
        });
    refresh();
}

ProcessSheet::Counts ProcessSheet::countFiles(const std::vector<app::AudioFile>& files, const Scope& scope)
{
    using Kind = app::ScanStatus::Kind;
    Counts counts;
    for (const app::AudioFile& file : files) {
        if (scope && !scope->contains(file.id()))
            continue;
        const Kind kind = file.status().kind();
        counts.passed += kind == Kind::passed;
        counts.failed += kind == Kind::failed;
        counts.errors += kind == Kind::error;
        counts.analysed += file.result().has_value();
        if (kind != Kind::failed)
            continue;
        if (app::Processing::isKeptByUser(file)) {
            ++counts.kept;
            continue;
        }
        ++counts.actionable;
        counts.renamable += app::Processing::markedName(file).has_value();
    }
    return counts;
}

void ProcessSheet::buildForm()
{
    m_form = new QWidget(this);
    auto* layout = new QVBoxLayout(m_form);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    const QString title = m_scope
        ? QStringLiteral("Process ") + number(static_cast<int>(m_scope->size())) + QStringLiteral(" Selected")
        : QStringLiteral("Process All Results");
    auto* titleLabel = makeLabel(title, TextStyle::headline);
    titleLabel->setObjectName(QStringLiteral("title"));
    layout->addWidget(titleLabel);
    layout->addSpacing(8);

    auto* heading = makeLabel(m_scope ? QStringLiteral("Selection Summary") : QStringLiteral("Scan Summary"),
        TextStyle::captionSemibold, secondaryText());
    heading->setObjectName(QStringLiteral("summaryHeading"));
    layout->addWidget(heading);
    m_summary = new QLabel;
    m_summary->setObjectName(QStringLiteral("summary"));
    m_summary->setTextFormat(Qt::RichText);
    layout->addWidget(m_summary);
    m_kept = makeLabel({}, TextStyle::caption, palette::blue);
    m_kept->setObjectName(QStringLiteral("kept"));
    m_kept->setWordWrap(true);
    layout->addWidget(m_kept);
    layout->addSpacing(10);

    layout->addWidget(makeLabel(QStringLiteral("Actions"), TextStyle::captionSemibold, secondaryText()));
    QLabel* caption = nullptr;
    m_rename = addSwitch(layout, QStringLiteral("Rename failed files"), caption, QStringLiteral("rename"));
    m_move = addSwitch(layout, QStringLiteral("Move failed files"), caption, QStringLiteral("move"));

    m_destinationRow = new QWidget;
    auto* destination = new QHBoxLayout(m_destinationRow);
    destination->setContentsMargins(24, 0, 0, 4);
    m_destinationName = makeLabel({}, TextStyle::caption);
    m_destinationName->setObjectName(QStringLiteral("destinationName"));
    auto* choose = new QPushButton(QStringLiteral("Choose..."));
    choose->setObjectName(QStringLiteral("choose"));
    choose->setAutoDefault(false);
    destination->addWidget(m_destinationName, 1);
    destination->addWidget(choose);
    layout->addWidget(m_destinationRow);

    m_delete = addSwitch(layout, QStringLiteral("Delete failed files"), caption, QStringLiteral("delete"));
    m_updateMetadata
        = addSwitch(layout, QStringLiteral("Update metadata"), caption, QStringLiteral("updateMetadata"));
    caption->setText(QStringLiteral("Set bitrate tags to match detected quality"));
    if (std::filesystem::exists(app::MixxxLibrary::defaultDatabase())) {
        m_mixxxCrate
            = addSwitch(layout, QStringLiteral("Add to Mixxx crate"), caption, QStringLiteral("mixxxCrate"));
        m_crateName = new QLineEdit(QString::fromUtf8(app::MixxxLibrary::kDefaultCrateName));
        m_crateName->setObjectName(QStringLiteral("crateName"));
        layout->addWidget(m_crateName);
        connect(m_mixxxCrate, &QCheckBox::toggled, this, [this] { refresh(); });
        connect(m_crateName, &QLineEdit::textChanged, this, [this] { refresh(); });
    }

    m_progress = makeLabel({}, TextStyle::caption, secondaryText());
    m_progress->setObjectName(QStringLiteral("progress"));
    layout->addWidget(m_progress);
    layout->addSpacing(8);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setObjectName(QStringLiteral("cancel"));
    cancel->setAutoDefault(false);
    m_processButton = new QPushButton(QStringLiteral("Process"));
    m_processButton->setObjectName(QStringLiteral("process"));
    m_processButton->setDefault(true);
    m_processButton->setMinimumWidth(90);
    m_processSpinner = new BusyIndicator(14);
    m_processSpinner->hide();
    auto* spinnerPlace = new QHBoxLayout(m_processButton);
    spinnerPlace->setContentsMargins(0, 0, 0, 0);
    spinnerPlace->addWidget(m_processSpinner, 0, Qt::AlignCenter);
    buttons->addWidget(cancel);
    buttons->addWidget(m_processButton);
    layout->addLayout(buttons);

    connect(m_rename, &QCheckBox::toggled, this, [this] { refresh(); });
    connect(m_move, &QCheckBox::toggled, this, &ProcessSheet::onMoveToggled);
    connect(m_delete, &QCheckBox::toggled, this, &ProcessSheet::onDeleteToggled);
    connect(m_updateMetadata, &QCheckBox::toggled, this, [this] { refresh(); });
    connect(choose, &QPushButton::clicked, this, &ProcessSheet::selectMoveDestination);
    // Escape reaches reject() through QDialog already.
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_processButton, &QPushButton::clicked, this, &ProcessSheet::requestProcess);
}

void ProcessSheet::onMoveToggled(bool checked)
{
    // Move and trash are never both on.
    if (checked)
        m_delete->setChecked(false);
    refresh();
}

void ProcessSheet::onDeleteToggled(bool checked)
{
    if (checked) {
        m_move->setChecked(false);
        m_moveDestination.reset();
    }
    refresh();
}

bool ProcessSheet::hasAction() const noexcept
{
    return m_rename->isChecked() || m_move->isChecked() || m_delete->isChecked()
        || m_updateMetadata->isChecked() || (m_mixxxCrate && m_mixxxCrate->isChecked());
}

bool ProcessSheet::hasRekordboxBreakingAction() const noexcept
{
    return m_rename->isChecked() || m_move->isChecked() || m_delete->isChecked();
}

bool ProcessSheet::canProcess() const noexcept
{
    if (m_move->isChecked() && !m_moveDestination)
        return false;
    if (m_mixxxCrate && m_mixxxCrate->isChecked() && m_crateName->text().trimmed().isEmpty())
        return false;
    return hasAction() && !m_isProcessing;
}

void ProcessSheet::refresh()
{
    m_counts = countFiles(m_viewModel.allFiles(), m_scope);

    QString summary
        = QStringLiteral("<span style=\"color:%1\">%2 passed</span>&nbsp;&nbsp;&nbsp;"
                         "<span style=\"color:%3\">%4 failed</span>")
              .arg(palette::green.name(), number(m_counts.passed), palette::red.name(), number(m_counts.failed));
    if (m_counts.errors >= 1)
        summary += QStringLiteral("&nbsp;&nbsp;&nbsp;<span style=\"color:%1\">%2 errors</span>")
                       .arg(palette::orange.name(), number(m_counts.errors));
    m_summary->setText(summary);
    m_kept->setText(number(m_counts.kept) + QStringLiteral(" failed files marked DJ ready are kept as they are"));
    m_kept->setVisible(m_counts.kept > 0);

    findChild<QLabel*>(QStringLiteral("renameCaption"))
        ->setText(QStringLiteral("Append 'fake-{bitrate}' to ") + number(m_counts.renamable)
            + QStringLiteral(" filenames"));
    findChild<QLabel*>(QStringLiteral("moveCaption"))
        ->setText(QStringLiteral("Move ") + number(m_counts.actionable) + QStringLiteral(" files to a folder"));
    findChild<QLabel*>(QStringLiteral("deleteCaption"))
        ->setText(QStringLiteral("Move ") + number(m_counts.actionable) + QStringLiteral(" files to Trash"));

    // While a run goes on the choices that made it stay as they are.
    const bool editable = !m_isProcessing;
    m_rename->setEnabled(editable && m_counts.renamable > 0);
    m_move->setEnabled(editable && m_counts.actionable > 0);
    m_delete->setEnabled(editable && m_counts.actionable > 0);
    m_updateMetadata->setEnabled(editable && m_counts.analysed > 0);
    if (m_mixxxCrate) {
        findChild<QLabel*>(QStringLiteral("mixxxCrateCaption"))
            ->setText(QStringLiteral("Add ") + number(m_counts.actionable)
                + QStringLiteral(" files to this crate of Mixxx's library"));
        m_mixxxCrate->setEnabled(editable && m_counts.actionable > 0);
        m_crateName->setVisible(m_mixxxCrate->isChecked());
        m_crateName->setEnabled(editable);
    }

    m_destinationRow->setVisible(m_move->isChecked());
    m_destinationRow->setEnabled(editable);
    m_destinationName->setText(m_moveDestination
            ? QString::fromStdString(app::PathText::lastPathComponent(*m_moveDestination))
            : QStringLiteral("No folder selected"));

    m_processButton->setEnabled(canProcess());
    m_processButton->setText(m_isProcessing ? QString() : QStringLiteral("Process"));
    m_processSpinner->setVisible(m_isProcessing);
}

void ProcessSheet::selectMoveDestination()
{
    auto* chooser = new QFileDialog(this, QStringLiteral("Select destination folder for failed files"));
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    chooser->setFileMode(QFileDialog::Directory);
    chooser->setOption(QFileDialog::ShowDirsOnly);
    chooser->setAcceptMode(QFileDialog::AcceptOpen);
    chooser->setWindowModality(Qt::WindowModal);
    chooser->setDirectory(
        ChooserFolders::startFolder(ChooserFolders::Purpose::moveDestination, m_viewModel.rootFolder()));
    connect(chooser, &QFileDialog::fileSelected, this, [this](const QString& folder) {
        if (folder.isEmpty())
            return;
        ChooserFolders::remember(ChooserFolders::Purpose::moveDestination, folder);
        setMoveDestination(std::filesystem::path(folder.toStdString()));
    });
    chooser->open();
}

void ProcessSheet::setMoveDestination(const std::filesystem::path& folder)
{
    m_moveDestination = folder;
    refresh();
}

void ProcessSheet::requestProcess()
{
    if (!canProcess())
        return;
    if (!hasRekordboxBreakingAction()) {
        startRun();
        return;
    }
    m_warning = new QMessageBox(QMessageBox::Warning, QStringLiteral("This will break Rekordbox links"),
        QStringLiteral(
            "Renaming, moving, or deleting files will break links in Rekordbox and other DJ software. "
            "You'll need to relocate the files in your DJ library after processing."),
        QMessageBox::NoButton, this);
    m_warning->setAttribute(Qt::WA_DeleteOnClose);
    m_warning->setObjectName(QStringLiteral("rekordboxWarning"));
    m_warning->setWindowModality(Qt::WindowModal);
    QPushButton* cancel = m_warning->addButton(QMessageBox::Cancel);
    QPushButton* proceed = m_warning->addButton(QStringLiteral("Continue"), QMessageBox::AcceptRole);
    // Return must never be the way into a change that breaks links.
    m_warning->setDefaultButton(cancel);
    m_warning->setEscapeButton(cancel);
    connect(proceed, &QPushButton::clicked, this, &ProcessSheet::startRun);
    m_warning->open();
}

void ProcessSheet::startRun()
{
    // The view model runs one processing run at a time; a run it would refuse never answers.
    if (!canProcess() || m_viewModel.isProcessing())
        return;
    app::ProcessingRequest request;
    request.scope = m_scope;
    request.rename = m_rename->isChecked();
    request.move = m_move->isChecked();
    request.trash = m_delete->isChecked();
    request.updateTags = m_updateMetadata->isChecked();
    request.destination = m_moveDestination;
    if (m_mixxxCrate && m_mixxxCrate->isChecked())
        request.crate = app::MixxxCrateRequest { m_crateName->text().trimmed().toStdString(),
            app::MixxxLibrary::defaultDatabase() };
    m_isProcessing = true;
    refresh();
    QPointer<ProcessSheet> sheet(this);
    m_run = m_viewModel.process(request, [sheet](const app::ProcessingResults& results) {
        if (sheet)
            sheet->showResults(results);
    });
}

void ProcessSheet::showProgress(int position, int total)
{
    if (m_processingResults)
        return;
    m_progress->setText(
        QStringLiteral("Metadata update: ") + number(position) + QLatin1Char('/') + number(total));
}

void ProcessSheet::showResults(const app::ProcessingResults& results)
{
    if (m_processingResults)
        return;
    m_isProcessing = false;
    m_processingResults = results;

    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("results"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    // The texts are the run's own summary lines: the title, then one per non-zero count in the
    // order below, then "Errors" and its lines.
    const std::vector<std::string> lines = results.lines();
    const bool issues = results.hasIssues();
    auto* header = new QHBoxLayout;
    header->addStretch(1);
    header->addWidget(issues ? makeSymbolLabel(Symbol::exclamationmarkCircleFill, 48, palette::orange)
                             : makeSymbolLabel(Symbol::checkmarkCircleFill, 48, palette::green));
    header->addStretch(1);
    layout->addLayout(header);
    auto* title = makeLabel(QString::fromStdString(lines.front()), TextStyle::headline);
    title->setObjectName(QStringLiteral("resultTitle"));
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);

    struct CountLine {
        int count;
        std::optional<Symbol> symbol;
        QColor colour;
    };
    const CountLine countLines[] = {
        { results.crateAddedCount, std::nullopt, {} },
        { results.renamedCount, Symbol::pencil, {} },
        { results.movedCount, Symbol::folder, {} },
        { results.deletedCount, Symbol::trash, {} },
        { results.metadataUpdatedCount, std::nullopt, {} },
        { results.metadataFailedCount, std::nullopt, palette::orange },
    };
    std::size_t next = 1;
    for (const CountLine& line : countLines) {
        if (line.count == 0)
            continue;
        auto* row = new QHBoxLayout;
        row->setSpacing(6);
        if (line.symbol)
            row->addWidget(makeSymbolLabel(*line.symbol, 16));
        auto* text = makeLabel(QString::fromStdString(lines.at(next++)), TextStyle::body, line.colour);
        text->setObjectName(QStringLiteral("resultLine"));
        row->addWidget(text, 1);
        layout->addLayout(row);
    }
    addList(layout, QStringLiteral("errors"), QStringLiteral("Errors"), results.errors, palette::red);
    addList(layout, QStringLiteral("failures"), QStringLiteral("Metadata update failures"),
        results.metadataFailures, palette::orange);
    addList(layout, QStringLiteral("kept"), QStringLiteral("Kept: marked DJ ready"), results.keptFiles, {});

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* done = new QPushButton(QStringLiteral("Done"));
    done->setObjectName(QStringLiteral("done"));
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(done);
    layout->addSpacing(8);
    layout->addLayout(buttons);

    // The form goes once the run has ended; the sheet never returns to it.
    delete this->layout()->replaceWidget(m_form, page);
    m_form->hide();
    page->setFixedWidth(kResultsWidth - 2 * kMargin);
}

void ProcessSheet::addList(QVBoxLayout* layout, const QString& name, const QString& heading,
    const std::vector<std::string>& lines, const QColor& colour)
{
    if (lines.empty())
        return;
    layout->addSpacing(6);
    auto* title = makeLabel(heading, TextStyle::captionSemibold);
    title->setObjectName(name + QStringLiteral("Heading"));
    layout->addWidget(title);
    // One text in a box of a few lines' height: a long run neither grows the sheet past the
    // screen nor builds a widget a line.
    QStringList shown;
    const std::size_t listed = std::min(lines.size(), static_cast<std::size_t>(kListedLines));
    shown.reserve(static_cast<qsizetype>(listed) + 1);
    for (std::size_t i = 0; i < listed; ++i)
        shown << QString::fromStdString(lines[i]);
    if (lines.size() > listed)
        shown << QStringLiteral("... and %1 more").arg(lines.size() - listed);
    auto* list = new QPlainTextEdit;
    list->setObjectName(name + QStringLiteral("List"));
    list->setReadOnly(true);
    list->setLineWrapMode(QPlainTextEdit::NoWrap);
    list->setPlainText(shown.join(QLatin1Char('\n')));
    if (colour.isValid()) {
        QPalette tinted = list->palette();
        tinted.setColor(QPalette::Text, colour);
        list->setPalette(tinted);
    }
    const int lineHeight = list->fontMetrics().lineSpacing();
    list->setFixedHeight(std::min(static_cast<int>(shown.size()), 6) * lineHeight + 12);
    layout->addWidget(list);
}

} // namespace sondrel::ui
