#include "ChooserFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace sondrel::ui {
namespace {

QString key(ChooserFolders::Purpose purpose)
{
    switch (purpose) {
    case ChooserFolders::Purpose::library:
        return QStringLiteral("chooserFolders/library");
    case ChooserFolders::Purpose::moveDestination:
        return QStringLiteral("chooserFolders/moveDestination");
    case ChooserFolders::Purpose::exportList:
        return QStringLiteral("chooserFolders/exportList");
    case ChooserFolders::Purpose::diagnostics:
        return QStringLiteral("chooserFolders/diagnostics");
    }
    return QStringLiteral("chooserFolders/library");
}

QSettings settings()
{
    return QSettings(QStringLiteral("Sondrel"), QStringLiteral("Sondrel"));
}

} // namespace

QString ChooserFolders::startFolder(Purpose purpose, const std::optional<std::filesystem::path>& library)
{
    const QString last = settings().value(key(purpose)).toString();
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    if (library) {
        const std::string& native = library->native();
        const QString folder = QString::fromLocal8Bit(native.data(), static_cast<qsizetype>(native.size()));
        if (QFileInfo(folder).isDir())
            return folder;
    }
    return QDir::homePath();
}

void ChooserFolders::remember(Purpose purpose, const QString& chosen, bool isFile)
{
    if (chosen.isEmpty())
        return;
    settings().setValue(
        key(purpose), isFile ? QFileInfo(chosen).absolutePath() : QFileInfo(chosen).absoluteFilePath());
}

} // namespace sondrel::ui
