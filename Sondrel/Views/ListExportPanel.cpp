#include "ListExportPanel.h"

#include "AppSettings.h"
#include "Background.h"
#include "ChooserFolders.h"

#include <QStringList>

#include <array>

namespace sondrel::ui {
namespace {

using Format = app::ListExport::Format;

struct ExportType {
    Format format;
    const char* filter;
};
// The first is the one the dialog starts with.
constexpr std::array kExportTypes { ExportType { Format::csv, "CSV (*.csv)" },
    ExportType { Format::jsonLines, "JSON Lines (*.jsonl)" },
    ExportType { Format::m3u8, "M3U8 Playlist (*.m3u8)" } };

std::filesystem::path nativePath(const QString& path)
{
    const QByteArray bytes = path.toLocal8Bit();
    return std::filesystem::path(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

QString fileCount(std::size_t count)
{
    return count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count);
}

} // namespace

ListExportPanel::ListExportPanel(std::vector<app::AudioFile> files,
    const std::optional<std::filesystem::path>& library, shell::Report report, QWidget* parent)
    : QFileDialog(parent, QStringLiteral("Export List"))
    , m_files(std::move(files))
    , m_report(std::move(report))
{
    setObjectName(QStringLiteral("exportList"));
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    QStringList filters;
    for (const ExportType& type : kExportTypes)
        filters << QString::fromLatin1(type.filter);
    setNameFilters(filters);
    setDefaultSuffix(QString::fromLatin1(app::ListExport::extension(kExportTypes.front().format)));
    connect(this, &QFileDialog::filterSelected, this, [this](const QString& filter) {
        for (const ExportType& type : kExportTypes) {
            if (filter == QString::fromLatin1(type.filter))
                setDefaultSuffix(QString::fromLatin1(app::ListExport::extension(type.format)));
        }
    });
    setDirectory(ChooserFolders::startFolder(ChooserFolders::Purpose::exportList, library));
    selectFile(QStringLiteral("Sondrel List.csv"));
    setWindowModality(Qt::WindowModal);
    connect(this, &QFileDialog::fileSelected, this, &ListExportPanel::write);
    connect(this, &QDialog::rejected, this, &QObject::deleteLater);
}

Format ListExportPanel::formatFor(const QString& chosen) const
{
    if (const auto format = app::ListExport::formatFor(nativePath(chosen)))
        return *format;
    for (const ExportType& type : kExportTypes) {
        if (selectedNameFilter() == QString::fromLatin1(type.filter))
            return type.format;
    }
    return kExportTypes.front().format;
}

void ListExportPanel::write(const QString& chosen)
{
    if (chosen.isEmpty()) {
        deleteLater();
        return;
    }
    ChooserFolders::remember(ChooserFolders::Purpose::exportList, chosen, true);
    const std::filesystem::path target = nativePath(chosen);
    // A playlist reads every file's length, which takes a while on a big list.
    if (m_report)
        m_report(QStringLiteral("Exporting %1...").arg(fileCount(m_files.size())), false);
    // The dialog has asked before a file there is replaced: that file, and no other, may go.
    std::optional<struct stat> replacing;
    if (struct stat existing {}; ::stat(target.c_str(), &existing) == 0)
        replacing = existing;
    runInBackground(
        this,
        [target, format = formatFor(chosen), files = m_files, replacing,
            threshold = app::AppSettings::shared().qualityThreshold()] {
            std::vector<const app::AudioFile*> rows;
            rows.reserve(files.size());
            for (const app::AudioFile& file : files)
                rows.push_back(&file);
            const Status written = app::ListExport::writeFile(target, format, rows, threshold, replacing);
            return written ? QString() : QString::fromStdString(written.error().description);
        },
        [this, chosen](const QString& error) {
            if (m_report) {
                if (error.isEmpty())
                    m_report(
                        QStringLiteral("Exported %1 to %2").arg(fileCount(m_files.size()), chosen), false);
                else
                    m_report(QStringLiteral("Could not export the list to %1: %2").arg(chosen, error), true);
            }
            emit written(chosen, error);
            deleteLater();
        });
}

} // namespace sondrel::ui
