#include "uikit/Symbols.h"

#include <QHash>

QStringList Symbols::themeNames(const QString& symbol) {
    static const QHash<QString, QStringList> names{
        {"iphone", {"phone-apple-iphone", "phone"}},
        {"iphone.gen3", {"phone-apple-iphone", "phone"}},
        {"star.fill", {"starred"}},
        {"folder", {"folder"}},
        {"folder.fill", {"folder"}},
        {"square.grid.2x2", {"view-grid"}},
        {"app", {"application-x-executable"}},
        {"photo.on.rectangle", {"camera-photo"}},
        {"video.fill", {"camera-video"}},
        {"doc.on.doc", {"edit-copy"}},
        {"chevron.left", {"go-previous"}},
        {"chevron.right", {"go-next"}},
        {"list.bullet", {"view-list"}},
        {"rectangle.split.3x1", {"view-file-columns"}},
        {"square.and.arrow.down", {"document-save"}},
        {"sidebar.right", {"sidebar-show-right"}},
        {"tray.full", {"document-open-recent"}},
        {"cable.connector", {"drive-removable-media-usb"}},
        {"lock.fill", {"changes-prevent"}},
        {"lock.app.fill", {"changes-prevent"}},
        {"xmark.app", {"action-unavailable"}},
        {"exclamationmark.triangle", {"dialog-warning"}},
    };
    return names.value(symbol);
}

QIcon Symbols::icon(const QString& symbol) {
    for (const QString& name : themeNames(symbol)) {
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    }
    return {};
}
