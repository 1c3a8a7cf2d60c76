#include "platform/UserFolders.h"

#include <QDir>

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

} // namespace UserFolders
