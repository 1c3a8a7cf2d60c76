#include "sidebar/PreviewPaneViewController.h"

#include "platform/ByteCountFormatter.h"
#include "platform/DateFormat.h"
#include "platform/Logger.h"
#include "platform/ObservableOperators.h"
#include "platform/UiTimerSource.h"
#include "services/NavigationState.h"
#include "services/PreferencesViewController.h"
#include "services/ThumbnailCache.h"
#include "uikit/Colours.h"
#include "uikit/Fonts.h"
#include "uikit/Symbols.h"

#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeDatabase>
#include <QPainter>
#include <QPropertyAnimation>
#include <QVBoxLayout>

#include <limits>

namespace {

constexpr int iconSide = 96;
constexpr int deviceIconSide = 64;

// A one-line label that shortens what does not fit with an ellipsis instead of cutting it off;
// text() keeps the whole value.
class ElidingLabel : public QLabel {
public:
    explicit ElidingLabel(Qt::TextElideMode mode) : m_mode(mode) {}

protected:
    void paintEvent(QPaintEvent* event) override {
        // A label set to wrap shows its whole text on as many lines as it takes.
        if (wordWrap()) {
            QLabel::paintEvent(event);
            return;
        }
        QPainter painter(this);
        const QRect area = contentsRect();
        const QString shown = fontMetrics().elidedText(text(), m_mode, area.width());
        painter.setPen(palette().color(foregroundRole()));
        painter.drawText(area, int(alignment()) | Qt::TextSingleLine, shown);
    }

private:
    Qt::TextElideMode m_mode;
};

QLabel* makeValueLabel(const QString& objectName, Qt::TextElideMode mode = Qt::ElideRight) {
    auto* label = new ElidingLabel(mode);
    label->setObjectName(objectName);
    label->setFont(Fonts::system(11));
    Colours::setLabelColour(label, Colours::Label::primary);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    // Long values ask for their width but give way when the pane is narrower.
    label->setMinimumWidth(1);
    return label;
}

QWidget* makeRow(const QString& title, QLabel* value) {
    auto* row = new QWidget;
    auto* titleLabel = new QLabel(title + QLatin1Char(':'));
    titleLabel->setFont(Fonts::system(11));
    Colours::setLabelColour(titleLabel, Colours::Label::secondary);
    titleLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    titleLabel->setFixedWidth(56);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(titleLabel, 0, Qt::AlignBaseline);
    layout->addWidget(value, 1, Qt::AlignBaseline);
    return row;
}

QLabel* makeNameLabel(const QString& objectName) {
    auto* label = new QLabel;
    label->setObjectName(objectName);
    label->setFont(Fonts::system(12, Fonts::Weight::bold));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setWordWrap(true);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setMaximumHeight(QFontMetrics(label->font()).lineSpacing() * 2 + 2);
    return label;
}

QFrame* makeSeparator() {
    auto* separator = new QFrame;
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    return separator;
}

QWidget* makeStack(const QString& objectName, QLabel* icon, QLabel* name, const QList<QWidget*>& rows) {
    auto* stack = new QWidget;
    stack->setObjectName(objectName);
    auto* rowsLayout = new QVBoxLayout;
    rowsLayout->setSpacing(6);
    for (QWidget* row : rows)
        rowsLayout->addWidget(row);
    auto* layout = new QVBoxLayout(stack);
    layout->setContentsMargins(12, 16, 12, 16);
    layout->setSpacing(10);
    layout->addWidget(icon, 0, Qt::AlignHCenter);
    layout->addWidget(name);
    layout->addWidget(makeSeparator());
    layout->addLayout(rowsLayout);
    return stack;
}

quint64 saturatingAdd(quint64 a, quint64 b) {
    return a > std::numeric_limits<quint64>::max() - b ? std::numeric_limits<quint64>::max() : a + b;
}

} // namespace

PreviewPaneViewController::PreviewPaneViewController(NavigationState& navigationState,
                                                     std::shared_ptr<AFCBridge> afcBridge,
                                                     UiTimerSource& timers, ThumbnailSource thumbnailSource,
                                                     QWidget* parent)
    : QWidget(parent), m_navigationState(navigationState), m_afcBridge(std::move(afcBridge)),
      m_timers(timers), m_thumbnailSource(std::move(thumbnailSource)) {
    if (!m_thumbnailSource) {
        m_thumbnailSource = [](FileItem item, AFCBridge* bridge) {
            return ThumbnailCache::shared().thumbnail(std::move(item), bridge);
        };
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildDeviceCard();
    setupContent();

    const QPointer<PreviewPaneViewController> self(this);
    m_cancellables.push_back(combineLatest(m_navigationState.selectedItems, m_navigationState.currentDevice)
                                 .subscribe(
                                     [self](const auto& values) {
                                         if (!self)
                                             return;
                                         const auto& [selection, device] = values;
                                         if (!selection.isEmpty())
                                             self->showSelection(selection);
                                         else if (device)
                                             self->showDevice(*device);
                                         else
                                             self->showEmptyState(true);
                                     },
                                     Delivery::Queued));
}

PreviewPaneViewController::~PreviewPaneViewController() {
    cancelIconTasks();
}

void PreviewPaneViewController::setupContent() {
    m_iconView = new QLabel;
    m_iconView->setObjectName(QStringLiteral("previewImageView"));
    m_iconView->setFixedSize(iconSide, iconSide);
    m_iconView->setAlignment(Qt::AlignCenter);
    m_nameLabel = makeNameLabel(QStringLiteral("previewNameLabel"));
    m_kindLabel = makeValueLabel(QStringLiteral("previewKindLabel"));
    m_sizeLabel = makeValueLabel(QStringLiteral("previewSizeLabel"));
    // The date with its time is the longest of the facts: where the pane is too narrow for it
    // (the window at its smallest), it goes onto a second line rather than lose its time.
    m_dateLabel = makeValueLabel(QStringLiteral("previewDateLabel"));
    m_dateLabel->setWordWrap(true);
    m_outerStack =
        makeStack(QStringLiteral("previewItemStack"), m_iconView, m_nameLabel,
                  {makeRow(QStringLiteral("Kind"), m_kindLabel), makeRow(QStringLiteral("Size"), m_sizeLabel),
                   makeRow(QStringLiteral("Modified"), m_dateLabel)});

    m_emptyLabel = new QLabel(QStringLiteral("Select a file to see info"));
    m_emptyLabel->setObjectName(QStringLiteral("previewEmptyLabel"));
    m_emptyLabel->setFont(Fonts::system(11));
    Colours::setLabelColour(m_emptyLabel, Colours::Label::tertiary);
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    m_emptyLabel->setWordWrap(true);
    m_emptyLabel->setContentsMargins(8, 0, 8, 0);

    auto* layout = static_cast<QVBoxLayout*>(this->layout());
    layout->addWidget(m_outerStack, 0, Qt::AlignTop);
    layout->addWidget(m_deviceInfoStack, 0, Qt::AlignTop);
    layout->addWidget(m_emptyLabel, 1);
    showEmptyState(true);
}

void PreviewPaneViewController::buildDeviceCard() {
    m_deviceIconView = new QLabel;
    m_deviceIconView->setObjectName(QStringLiteral("deviceIconView"));
    m_deviceIconView->setFixedSize(deviceIconSide, deviceIconSide);
    m_deviceIconView->setAlignment(Qt::AlignCenter);
    m_deviceNameLabel = makeNameLabel(QStringLiteral("deviceNameLabel"));
    m_deviceModelLabel = makeValueLabel(QStringLiteral("deviceModelLabel"));
    m_deviceIOSLabel = makeValueLabel(QStringLiteral("deviceIOSLabel"));
    m_deviceBatteryLabel = makeValueLabel(QStringLiteral("deviceBatteryLabel"));
    m_deviceUDIDLabel = makeValueLabel(QStringLiteral("deviceUDIDLabel"), Qt::ElideMiddle);
    m_deviceInfoStack = makeStack(QStringLiteral("deviceInfoStack"), m_deviceIconView, m_deviceNameLabel,
                                  {makeRow(QStringLiteral("Model"), m_deviceModelLabel),
                                   makeRow(QStringLiteral("iOS"), m_deviceIOSLabel),
                                   makeRow(QStringLiteral("Battery"), m_deviceBatteryLabel),
                                   makeRow(QStringLiteral("ID"), m_deviceUDIDLabel)});
    m_deviceInfoStack->hide();
}

void PreviewPaneViewController::cancelIconTasks() {
    ++m_generation;
    if (m_thumbnailTask) {
        m_thumbnailTask->cancel();
        m_thumbnailTask.reset();
    }
    m_fallbackIconTimer.cancel();
}

void PreviewPaneViewController::clearIcon() {
    m_iconView->clear();
    m_iconView->setProperty(Symbols::symbolNameProperty, QVariant());
    m_iconState = IconState::empty;
    m_iconName.clear();
}

void PreviewPaneViewController::setTypeIcon(const FileItem& item) {
    const QStringList names = typeIconNames(item);
    QIcon icon;
    for (const QString& name : names) {
        if (QIcon::hasThemeIcon(name)) {
            icon = QIcon::fromTheme(name);
            break;
        }
    }
    // Without the theme's icon, one file still looks like one file: the several-items symbol is
    // for a selection of many.
    QVariant symbol;
    if (icon.isNull()) {
        symbol = item.isDirectory() ? QStringLiteral("folder") : QStringLiteral("doc");
        icon = Symbols::icon(symbol.toString());
    }
    m_iconView->setGraphicsEffect(nullptr);
    m_iconView->setPixmap(icon.pixmap(iconSide, iconSide));
    m_iconView->setProperty(Symbols::symbolNameProperty, symbol);
    m_iconState = IconState::typeIcon;
    m_iconName = names.value(0);
}

void PreviewPaneViewController::setSymbol(const QString& symbol, const QString& description) {
    m_iconView->setGraphicsEffect(nullptr);
    m_iconView->setPixmap(Symbols::icon(symbol).pixmap(iconSide, iconSide));
    m_iconView->setProperty(Symbols::symbolNameProperty, symbol);
    m_iconView->setAccessibleDescription(description);
    m_iconState = IconState::symbol;
    m_iconName = symbol;
}

void PreviewPaneViewController::setThumbnail(const QImage& image, const QString& name) {
    QPixmap pixmap = QPixmap::fromImage(
        image.scaled(iconSide * 2, iconSide * 2, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(2.0);
    m_iconView->setPixmap(pixmap);
    m_iconView->setProperty(Symbols::symbolNameProperty, QVariant());
    m_iconState = IconState::thumbnail;
    m_iconName.clear();
    // The state is final at once; only the drawing fades in.
    auto* effect = new QGraphicsOpacityEffect(m_iconView);
    m_iconView->setGraphicsEffect(effect);
    auto* fade = new QPropertyAnimation(effect, "opacity", effect);
    fade->setDuration(int(thumbnailFade.count()));
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
    Logger::ui().debug("Preview: thumbnail of %s shown", name);
}

void PreviewPaneViewController::showEmptyState(bool empty) {
    m_outerStack->setVisible(!empty);
    m_deviceInfoStack->hide();
    m_emptyLabel->setVisible(empty);
    if (empty) {
        clearIcon();
        m_nameLabel->setText(QString());
    }
}

void PreviewPaneViewController::showDevice(const iOSDevice& device) {
    cancelIconTasks();
    m_outerStack->hide();
    m_emptyLabel->hide();
    m_deviceInfoStack->show();
    m_deviceIconView->setPixmap(Symbols::icon(QStringLiteral("iphone")).pixmap(32, 32));
    m_deviceIconView->setProperty(Symbols::symbolNameProperty, QStringLiteral("iphone"));
    m_deviceIconView->setAccessibleDescription(QStringLiteral("iPhone"));
    m_deviceNameLabel->setText(device.name().isEmpty() ? device.model() : device.name());
    m_deviceModelLabel->setText(device.model() + QStringLiteral(" (") + device.productType() +
                                QLatin1Char(')'));
    m_deviceIOSLabel->setText(device.iosVersion());
    const std::optional<int> battery = device.batteryLevel();
    m_deviceBatteryLabel->setText(battery ? QString::number(*battery) + QLatin1Char('%')
                                          : QStringLiteral("Unknown"));
    m_deviceUDIDLabel->setText(device.udid());
    m_deviceUDIDLabel->setToolTip(device.udid());
}

void PreviewPaneViewController::showSelection(const QSet<FileItem>& items) {
    cancelIconTasks();
    if (items.isEmpty()) {
        showEmptyState(true);
        return;
    }
    m_outerStack->show();
    m_deviceInfoStack->hide();
    m_emptyLabel->hide();

    if (items.size() == 1) {
        const FileItem item = *items.constBegin();
        m_nameLabel->setText(item.name());
        m_kindLabel->setText(kindText(item));
        m_sizeLabel->setText(item.isDirectory() ? QStringLiteral("—")
                                                : ByteCountFormatter::file(item.size()));
        setDateText(DateFormat::mediumShort(item.modifiedDate()));
        const bool wantsThumbnail = PreferencesViewController::enableThumbnails() && !item.isDirectory() &&
                                    (item.kind() == FileKind::image || item.kind() == FileKind::video);
        if (!wantsThumbnail) {
            setTypeIcon(item);
            return;
        }
        clearIcon();
        startThumbnail(item);
        return;
    }

    quint64 total = 0;
    for (const FileItem& item : items)
        total = saturatingAdd(total, item.size());
    setSymbol(QStringLiteral("doc.on.doc"), QString());
    m_nameLabel->setText(QString::number(items.size()) + QStringLiteral(" items"));
    m_kindLabel->setText(QStringLiteral("Multiple"));
    m_sizeLabel->setText(ByteCountFormatter::file(total));
    // Several items have no one date to show.
    setDateText(QString());
    Logger::ui().debug("Preview: %lld items shown", qint64(items.size()));
}

void PreviewPaneViewController::setDateText(const QString& text) {
    m_dateLabel->setText(text);
    // A title with nothing after it reads as a fault: the row shows only with a date.
    m_dateLabel->parentWidget()->setVisible(!text.isEmpty());
}

void PreviewPaneViewController::startThumbnail(const FileItem& item) {
    const quint64 generation = m_generation;
    const QPointer<PreviewPaneViewController> self(this);
    m_fallbackIconTimer = m_timers.singleShot(fallbackIconDelay, [self, item, generation] {
        if (self && self->m_generation == generation)
            self->setTypeIcon(item);
    });
    m_thumbnailTask = async::spawn([self, source = m_thumbnailSource, bridge = m_afcBridge, item,
                                    generation](std::stop_token token) -> async::Task<void> {
        async::Task<QImage> request = source(item, bridge.get());
        const QImage image = co_await std::move(request);
        if (token.stop_requested() || !self || self->m_generation != generation)
            co_return;
        self->m_fallbackIconTimer.cancel();
        if (image.isNull())
            self->setTypeIcon(item);
        else
            self->setThumbnail(image, item.name());
    });
}

QString PreviewPaneViewController::kindText(const FileItem& item) {
    if (item.uti()) {
        const QString description = item.uti()->localizedDescription();
        if (!description.isEmpty())
            return description;
    }
    QString raw = item.kind().rawValue();
    if (!raw.isEmpty())
        raw[0] = raw[0].toUpper();
    return raw;
}

QStringList PreviewPaneViewController::typeIconNames(const FileItem& item) {
    QStringList names;
    const QMimeDatabase database;
    QMimeType type;
    if (item.uti())
        type = database.mimeTypeForName(item.uti()->identifier());
    if (!type.isValid())
        type = database.mimeTypeForName(item.isDirectory() ? QStringLiteral("inode/directory")
                                                           : QStringLiteral("application/octet-stream"));
    if (type.isValid()) {
        names << type.iconName() << type.genericIconName();
    }
    names << (item.isDirectory() ? QStringLiteral("folder") : QStringLiteral("text-x-generic"));
    names.removeDuplicates();
    names.removeAll(QString());
    return names;
}
