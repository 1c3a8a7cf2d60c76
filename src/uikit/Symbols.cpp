#include "uikit/Symbols.h"

#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QMimeDatabase>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

namespace {

struct Symbol {
    QStringList themeNames;
    QString drawing; // the file under :/symbols that draws it
};

const QHash<QString, Symbol>& symbols() {
    static const QHash<QString, Symbol> table{
        {"iphone", {{"phone-apple-iphone", "phone"}, "iphone"}},
        {"iphone.gen3", {{"phone-apple-iphone", "phone"}, "iphone"}},
        {"star.fill", {{"starred"}, "star.fill"}},
        {"folder", {{"folder"}, "folder"}},
        {"folder.fill", {{"folder"}, "folder"}},
        {"square.grid.2x2", {{"view-grid"}, "square.grid.2x2"}},
        {"app", {{"application-x-executable"}, "app"}},
        {"photo.on.rectangle", {{"camera-photo"}, "photo.on.rectangle"}},
        {"video.fill", {{"camera-video"}, "video.fill"}},
        {"doc", {{"text-x-generic"}, "doc"}},
        {"doc.on.doc", {{"edit-copy"}, "doc.on.doc"}},
        {"chevron.left", {{"go-previous"}, "chevron.left"}},
        {"chevron.right", {{"go-next"}, "chevron.right"}},
        {"list.bullet", {{"view-list"}, "list.bullet"}},
        {"rectangle.split.3x1", {{"view-file-columns"}, "rectangle.split.3x1"}},
        {"square.and.arrow.down", {{"document-save"}, "square.and.arrow.down"}},
        {"sidebar.right", {{"sidebar-show-right"}, "sidebar.right"}},
        {"tray.full", {{"document-open-recent"}, "tray.full"}},
        {"cable.connector", {{"drive-removable-media-usb"}, "cable.connector"}},
        {"lock.fill", {{"changes-prevent"}, "lock.fill"}},
        {"lock.app.fill", {{"changes-prevent"}, "lock.fill"}},
        {"xmark.app", {{"action-unavailable"}, "xmark.app"}},
        {"exclamationmark.triangle", {{"dialog-warning"}, "exclamationmark.triangle"}},
    };
    return table;
}

// Paints the shape's coverage in the colour of the mode, read from the palette at each paint, so
// that a palette change (a dark scheme) is followed.
class TemplateIconEngine : public QIconEngine {
public:
    explicit TemplateIconEngine(QIcon shape) : m_shape(std::move(shape)) {}

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QImage image = m_shape.pixmap(size, QIcon::Normal, state)
                           .toImage()
                           .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), colour(mode));
        painter.end();
        return QPixmap::fromImage(std::move(image));
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap drawn = pixmap(rect.size() * ratio, mode, state);
        drawn.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, drawn);
    }

    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return m_shape.actualSize(size, mode, state);
    }

    QIconEngine* clone() const override { return new TemplateIconEngine(m_shape); }
    QString key() const override { return QStringLiteral("OrvantaTemplate"); }

private:
    static QColor colour(QIcon::Mode mode) {
        const QPalette palette = QGuiApplication::palette();
        switch (mode) {
        case QIcon::Disabled:
            return palette.color(QPalette::Disabled, QPalette::ButtonText);
        case QIcon::Selected:
            return palette.color(QPalette::Active, QPalette::HighlightedText);
        case QIcon::Normal:
        case QIcon::Active:
            break;
        }
        return palette.color(QPalette::Active, QPalette::ButtonText);
    }

    QIcon m_shape;
};

} // namespace

QStringList Symbols::themeNames(const QString& symbol) {
    return symbols().value(symbol).themeNames;
}

QIcon Symbols::bundledIcon(const QString& symbol) {
    const auto found = symbols().constFind(symbol);
    if (found == symbols().constEnd())
        return {};
    return QIcon(QStringLiteral(":/symbols/%1.svg").arg(found->drawing));
}

QIcon Symbols::templateIcon(const QString& symbol) {
    QIcon shape = bundledIcon(symbol);
    if (shape.isNull())
        return {};
    return QIcon(new TemplateIconEngine(std::move(shape)));
}

QIcon Symbols::icon(const QString& symbol) {
    for (const QString& name : themeNames(symbol)) {
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    }
    return bundledIcon(symbol);
}

QIcon Symbols::fileTypeIcon(const QString& mimeTypeName, bool isDirectory) {
    if (!isDirectory && !mimeTypeName.isEmpty()) {
        const QMimeType type = QMimeDatabase().mimeTypeForName(mimeTypeName);
        if (type.isValid()) {
            for (const QString& name : {type.iconName(), type.genericIconName()}) {
                if (!name.isEmpty() && QIcon::hasThemeIcon(name))
                    return QIcon::fromTheme(name);
            }
        }
    }
    return icon(isDirectory ? QStringLiteral("folder") : QStringLiteral("doc"));
}
