#include "FileManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QUrl>

namespace sondrel::ui {

namespace {

QUrl fileUrl(const std::filesystem::path& path)
{
    const std::string& native = path.native();
    return QUrl::fromLocalFile(QString::fromLocal8Bit(native.data(), static_cast<qsizetype>(native.size())));
}

void openContainingFolder(const std::filesystem::path& item)
{
    QDesktopServices::openUrl(fileUrl(item.parent_path()));
}

} // namespace

void showInFileManager(const std::filesystem::path& item)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openContainingFolder(item);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    call << QStringList { fileUrl(item).toString(QUrl::FullyEncoded) } << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 3000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [item](QDBusPendingCallWatcher* finished) {
        if (QDBusPendingReply<> reply = *finished; reply.isError())
            openContainingFolder(item);
        finished->deleteLater();
    });
}

} // namespace sondrel::ui
