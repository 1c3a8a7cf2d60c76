#include "platform/UserFolders.h"

#include <QDir>
#include <QFileInfo>

namespace UserFolders {

QString homePath() {
    return QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::HomeLocation));
}

std::optional<QString> placePath(QStandardPaths::StandardLocation location) {
    const QString path = QStandardPaths::writableLocation(location);
    if (path.isEmpty())
        return std::nullopt;
    const QString cleaned = QDir::cleanPath(path);
    if (cleaned == homePath())
        return std::nullopt;
    return cleaned;
}

std::optional<URL> home() {
    const QString path = homePath();
    if (path.isEmpty() || !QFileInfo(path).isDir())
        return std::nullopt;
    return URL::fileURL(path, true);
}

std::optional<URL> place(QStandardPaths::StandardLocation location) {
    const std::optional<QString> path = placePath(location);
    if (!path || !QFileInfo(*path).isDir())
        return std::nullopt;
    return URL::fileURL(*path, true);
}

} // namespace UserFolders
