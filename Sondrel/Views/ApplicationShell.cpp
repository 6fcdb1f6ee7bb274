#include "ApplicationShell.h"

#include "AnalysisCache.h"
#include "AtomicFile.h"
#include "Background.h"
#include "ChooserFolders.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLocale>
#include <QSysInfo>
#include <QThread>
#include <QUrl>

#include <span>

#include <unistd.h>

// Resources of a static library must be registered by hand, outside any namespace.
static void registerResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace sondrel::ui::shell {

Q_LOGGING_CATEGORY(appLog, "app")

namespace {

std::optional<QString> definedText(const char* text)
{
    if (text == nullptr || *text == '\0')
        return std::nullopt;
    return QString::fromUtf8(text);
}

// Query text as a URL query allows it, less the characters that would end a field.
QByteArray queryEncoded(const QString& text)
{
    return QUrl::toPercentEncoding(text, QByteArrayLiteral("!$'()*,/:;?@"));
}

std::optional<std::filesystem::path> installedReadme()
{
    const QDir binary(QCoreApplication::applicationDirPath());
    const QString candidates[] = {
        binary.filePath(QStringLiteral("../" SONDREL_DOC_DIR "/README.md")),
        QStringLiteral(SONDREL_SOURCE_DIR "/README.md"),
    };
    for (const QString& candidate : candidates) {
        if (QFile::exists(candidate))
            return std::filesystem::path(QDir::cleanPath(candidate).toStdString());
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> applicationVersion()
{
    return definedText(SONDREL_VERSION);
}

std::optional<QString> buildNumber()
{
    return definedText(SONDREL_BUILD_NUMBER);
}

QIcon applicationIcon()
{
    static const bool registered = (registerResources(), true);
    Q_UNUSED(registered);
    return QIcon(QStringLiteral(":/sondrel/sondrel.svg"));
}

QString operatingSystemDescription()
{
    // QSysInfo reads os-release's PRETTY_NAME.
    return QSysInfo::prettyProductName() + QStringLiteral(", kernel ") + QSysInfo::kernelVersion();
}

QByteArray problemReportLink(const std::optional<QString>& version, const QString& operatingSystem)
{
    const QString shown = version.value_or(QStringLiteral("Unknown"));
    const QString subject = QStringLiteral("Sondrel Feedback (v") + shown + QLatin1Char(')');
    const QString body
        = QStringLiteral("\n\n---\nApp Version: ") + shown + QStringLiteral("\nOS: ") + operatingSystem;
    return QByteArrayLiteral("mailto:") + kSupportAddress + QByteArrayLiteral("?subject=")
        + queryEncoded(subject) + QByteArrayLiteral("&body=") + queryEncoded(body);
}

DiagnosticFacts DiagnosticFacts::current()
{
    DiagnosticFacts facts;
    facts.generated = QDateTime::currentDateTime();
    facts.version = applicationVersion();
    facts.build = buildNumber();
    facts.operatingSystem = operatingSystemDescription();
    facts.processorCount = QThread::idealThreadCount();
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && pageSize > 0)
        facts.physicalMemory = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
    facts.cachedFiles = core::AnalysisCache::shared().count();
    return facts;
}

QString diagnosticReport(const DiagnosticFacts& facts)
{
    const QString unknown = QStringLiteral("Unknown");
    const QStringList lines {
        QStringLiteral("Sondrel Diagnostic Report"),
        QStringLiteral("Generated: ") + QLocale().toString(facts.generated, QLocale::ShortFormat),
        QString(),
        QStringLiteral("Application"),
        QStringLiteral("-----------"),
        QStringLiteral("Version: ") + facts.version.value_or(unknown) + QStringLiteral(" (")
            + facts.build.value_or(unknown) + QLatin1Char(')'),
        QStringLiteral("OS: ") + facts.operatingSystem,
        QString(),
        QStringLiteral("System"),
        QStringLiteral("------"),
        QStringLiteral("Processor: ") + QString::number(facts.processorCount) + QStringLiteral(" cores"),
        QStringLiteral("Memory: ") + QString::number(facts.physicalMemory >> 30) + QStringLiteral(" GB"),
        QString(),
        QStringLiteral("Cache"),
        QStringLiteral("-----"),
        QStringLiteral("Cached files: ") + QString::number(facts.cachedFiles),
        QString(),
        QStringLiteral("Recent Logs"),
        QStringLiteral("-----------"),
        QStringLiteral("(Check the system journal for detailed logs - journalctl --user, filter by \"")
            + QLatin1String(kApplicationId) + QStringLiteral("\")"),
    };
    return lines.join(QLatin1Char('\n'));
}

QString writeReport(const std::filesystem::path& target, const QString& text)
{
    auto file = AtomicFile::create(target, Placement::replace);
    if (!file)
        return QString::fromStdString(file.error().message());
    const QByteArray bytes = text.toUtf8();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    std::error_code error = file->append(std::span(data, static_cast<std::size_t>(bytes.size())));
    if (!error)
        error = file->commit();
    return error ? QString::fromStdString(error.message()) : QString();
}

namespace {

void tell(const Report& report, const QString& message, bool failed = false)
{
    if (report)
        report(message, failed);
}

QString text(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

} // namespace

void revealInFileManager(const std::filesystem::path& file, Report report)
{
    const auto openFolder = [folder = file.parent_path(), report] {
        if (QDesktopServices::openUrl(QUrl::fromLocalFile(text(folder))))
            tell(report, QStringLiteral("Opened the folder ") + text(folder));
        else
            tell(report, QStringLiteral("No file manager could be opened. The file is in ") + text(folder), true);
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder();
        return;
    }
    const QUrl url = QUrl::fromLocalFile(text(file));
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    call << QStringList { url.toString() } << QString();
    // Asynchronous, so a slow bus never stalls the window; a bus without a file manager on it
    // answers with an error, and the folder opens instead.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 3000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
        [openFolder, report, name = QString::fromStdString(file.filename().string())](
            QDBusPendingCallWatcher* finished) {
            if (finished->isError())
                openFolder();
            else
                tell(report, QStringLiteral("Shown in the file manager: ") + name);
            finished->deleteLater();
        });
}

void openHelp(Report report)
{
    const std::optional<std::filesystem::path> readme = installedReadme();
    if (!readme) {
        qCWarning(appLog, "The user guide (README.md) is not installed beside the program");
        tell(report, QStringLiteral("The user guide (README.md) is not installed beside the program."), true);
        return;
    }
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(text(*readme))))
        tell(report, QStringLiteral("Opened the user guide"));
    else
        tell(report, QStringLiteral("No application is set up to open the user guide. It is at ") + text(*readme),
            true);
}

void reportIssue(Report report)
{
    if (QDesktopServices::openUrl(QUrl::fromEncoded(
            problemReportLink(applicationVersion(), operatingSystemDescription()), QUrl::TolerantMode)))
        tell(report, QStringLiteral("Opened a problem report in your mail application"));
    else
        tell(report,
            QStringLiteral("No mail application is set up. Please write to ")
                + QString::fromLatin1(kSupportAddress) + QLatin1Char('.'),
            true);
}

void exportDiagnostics(QWidget* parent, Report report)
{
    auto* panel = new QFileDialog(parent, QStringLiteral("Save diagnostic information for support"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setFileMode(QFileDialog::AnyFile);
    panel->setNameFilter(QStringLiteral("Plain text (*.txt)"));
    panel->setDefaultSuffix(QStringLiteral("txt"));
    panel->setDirectory(ChooserFolders::startFolder(ChooserFolders::Purpose::diagnostics));
    panel->selectFile(QStringLiteral("Sondrel-Diagnostics.txt"));
    panel->setWindowModality(Qt::WindowModal);
    QObject::connect(panel, &QFileDialog::fileSelected, [report](const QString& chosen) {
        if (chosen.isEmpty())
            return;
        ChooserFolders::remember(ChooserFolders::Purpose::diagnostics, chosen, true);
        const std::filesystem::path target(chosen.toStdString());
        runInBackground(
            QCoreApplication::instance(),
            [target] { return writeReport(target, diagnosticReport(DiagnosticFacts::current())); },
            [target, report](const QString& error) {
                if (error.isEmpty()) {
                    tell(report, QStringLiteral("Diagnostics saved to ") + text(target));
                    revealInFileManager(target);
                } else {
                    qCCritical(appLog, "Failed to save diagnostics: %s", qUtf8Printable(error));
                    tell(report, QStringLiteral("Failed to save diagnostics: ") + error, true);
                }
            });
    });
    panel->open();
}

} // namespace sondrel::ui::shell
