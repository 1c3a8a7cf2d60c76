#include "platform/UserFolders.h"

#include <QDir>
#include <QFileInfo>

namespace UserFolders {

namespace {

QString homePath() {
    return QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::HomeLocation));
}

} // namespace

std::optional<URL> home() {
    const QString path = homePath();
    if (path.isEmpty() || !QFileInfo(path).isDir())
        return std::nullopt;
    return URL::fileURL(path, true);
}

std::optional<URL> place(QStandardPaths::StandardLocation location) {
    const QString path = QStandardPaths::writableLocation(location);
    if (path.isEmpty())
        return std::nullopt;
    const QString cleaned = QDir::cleanPath(path);
    if (cleaned == homePath() || !QFileInfo(cleaned).isDir())
        return std::nullopt;
    return URL::fileURL(cleaned, true);
}

} // namespace UserFolders
