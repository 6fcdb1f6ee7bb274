#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QIcon>
#include <QLoggingCategory>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

class QWidget;

// The shell's actions of the Help menu and the facts about the application they report.
namespace sondrel::ui::shell {

// The application's log channel; its messages reach the system journal.
Q_DECLARE_LOGGING_CATEGORY(appLog)

// The application identifier: the desktop file's and the metadata's name, and what the
// journal's entries are found by.
inline constexpr const char* kApplicationId = "org.sondrel.Sondrel";
inline constexpr const char* kSupportAddress = "support@sondrel.org";
inline constexpr const char* kWebsite = "https://sondrel.org";

// The project version of the build; none when the build did not say.
[[nodiscard]] std::optional<QString> applicationVersion();
// The build number a packager gave the build; none otherwise.
[[nodiscard]] std::optional<QString> buildNumber();
// The application icon, from the build's own resources.
[[nodiscard]] QIcon applicationIcon();
// The distribution's pretty name from os-release and the kernel version, e.g.
// "Debian GNU/Linux 12 (bookworm), kernel 6.1.0-18-amd64".
[[nodiscard]] QString operatingSystemDescription();

// "mailto:" + support address + "?subject=...&body=..." with subject "Sondrel Feedback (v" +
// version + ")" and the version and OS lines in the body, both percent-encoded as URL query text;
// "&", "=", "+" and "#" are encoded as well, so no text can split the fields.
[[nodiscard]] QByteArray problemReportLink(
    const std::optional<QString>& version, const QString& operatingSystem);

// What the diagnostics report states; `current()` gathers it (reads the disk: not for the GUI
// thread).
struct DiagnosticFacts {
    QDateTime generated;
    std::optional<QString> version;
    std::optional<QString> build;
    QString operatingSystem;
    int processorCount = 0;
    std::uint64_t physicalMemory = 0; // bytes
    std::size_t cachedFiles = 0;

    [[nodiscard]] static DiagnosticFacts current();
};

// The plain-text report, without a line break after its last line.
[[nodiscard]] QString diagnosticReport(const DiagnosticFacts& facts);

// Writes `text` as UTF-8 over `target` atomically; an empty string on success, else the error.
[[nodiscard]] QString writeReport(const std::filesystem::path& target, const QString& text);

// Says what an action did: a line for the status bar, or, when `failed`, a failure the user
// must see. The actions below never stay silent when given one.
using Report = std::function<void(const QString& message, bool failed)>;

// Shows a file in the file manager (selected), else opens its folder.
void revealInFileManager(const std::filesystem::path& file, Report report = {});

// "Sondrel Help": the user guide installed with the binary, in the default viewer.
void openHelp(Report report = {});
// "Report an Issue...": a prepared mail in the default mail application.
void reportIssue(Report report = {});
// "Export Diagnostics...": asks where, then builds and writes the report off the GUI thread and
// shows it in the file manager; a failure is logged and reported.
void exportDiagnostics(QWidget* parent, Report report = {});

} // namespace sondrel::ui::shell
