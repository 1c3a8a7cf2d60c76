#include "uikit/Workspace.h"

#include "platform/Logger.h"
#include "uikit/Beep.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QUrl>

namespace {

std::function<bool(const URL&)>& opener() {
    static std::function<bool(const URL&)> open = [](const URL& url) {
        return QDesktopServices::openUrl(QUrl(url.absoluteString()));
    };
    return open;
}

bool refused(const URL& url) {
    if (url.scheme() != u"afc")
        return false;
    Logger::ui().error("Not handing a device location to the desktop: %s", url.absoluteString());
    Beep::beep();
    return true;
}

} // namespace

bool Workspace::open(const URL& url) {
    if (refused(url))
        return false;
    if (opener()(url))
        return true;
    Logger::ui().error("The desktop could not open %s", url.absoluteString());
    return false;
}

AlertRequest Workspace::openFailedAlert(const QString& message, const QString& name) {
    return warningAlert(
        message, QStringLiteral("No application on this computer could open \u201C%1\u201D.").arg(name));
}

AlertRequest Workspace::revealFailedAlert(const QString& message, const QString& name) {
    return warningAlert(
        message, QStringLiteral("No file manager on this computer could show \u201C%1\u201D.").arg(name));
}

void Workspace::reveal(const URL& url, std::function<void()> failed) {
    if (refused(url)) {
        if (failed)
            failed();
        return;
    }
    const URL folder = url.deletingLastPathComponent();
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{url.absoluteString()} << QString();
    QDBusConnection bus = QDBusConnection::sessionBus();
    const auto openFolder = [folder, failed] {
        if (!open(folder) && failed)
            failed();
    };
    if (!bus.isConnected()) {
        openFolder();
        return;
    }
    // Asynchronous: a file manager that starts slowly must not hold up the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, openFolder] {
        watcher->deleteLater();
        if (watcher->isError())
            openFolder();
    });
}

void Workspace::setOpenerForTesting(std::function<bool(const URL&)> open) {
    opener() = std::move(open);
}
