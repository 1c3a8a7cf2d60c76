#include "browser/GetInfoPanelController.h"

#include "browser/FileItemListModel.h"
#include "device/AFCComponents.h"
#include "platform/ByteCountFormatter.h"
#include "platform/DateFormat.h"
#include "platform/Logger.h"
#include "services/PreferencesViewController.h"
#include "services/ThumbnailCache.h"
#include "sidebar/PreviewPaneViewController.h"
#include "uikit/Colours.h"
#include "uikit/Fonts.h"
#include "uikit/Spinner.h"

#include <algorithm>

#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

namespace {

QList<GetInfoPanelController*>& panels() {
    static QList<GetInfoPanelController*> list;
    return list;
}

async::Task<void> fetchThumbnail(QPointer<GetInfoPanelController> controller, ThumbnailCache* cache,
                                 FileItem item, std::shared_ptr<AFCBridge> bridge, std::stop_token) {
    async::Task<QImage> asking = cache->thumbnail(item, bridge.get());
    const QImage image = co_await std::move(asking);
    // A thumbnail that arrives after the panel closed is dropped.
    if (controller)
        controller->thumbnailArrived(image);
}

} // namespace

GetInfoPanelController* GetInfoPanelController::open(FileItem item, ThumbnailCache* thumbnailCache,
                                                     std::shared_ptr<AFCBridge> afcBridge,
                                                     QWidget* parentWindow) {
    auto* controller =
        new GetInfoPanelController(std::move(item), thumbnailCache, std::move(afcBridge), parentWindow);
    controller->showWindow();
    return controller;
}

GetInfoPanelController::GetInfoPanelController(FileItem item, ThumbnailCache* thumbnailCache,
                                               std::shared_ptr<AFCBridge> afcBridge, QWidget* parentWindow)
    : m_item(std::move(item)), m_thumbnailCache(thumbnailCache), m_afcBridge(std::move(afcBridge)),
      m_window(new QWidget(parentWindow, Qt::Tool)) {
    m_window->setObjectName(QStringLiteral("getInfoPanel"));
    m_window->setAttribute(Qt::WA_DeleteOnClose);
    m_window->setAttribute(Qt::WA_ShowWithoutActivating);
    m_window->setWindowTitle(m_item.name());
    m_window->setFixedWidth(panelWidth);
    m_window->resize(panelWidth, panelHeight);
    // Escape closes the panel that has the keyboard; the main window's keys stay the main window's.
    new QShortcut(QKeySequence(Qt::Key_Escape), m_window, m_window, &QWidget::close);
    setParent(m_window);
    buildContent();
}

GetInfoPanelController::~GetInfoPanelController() {
    panels().removeAll(this);
    if (m_thumbnailTask)
        m_thumbnailTask->cancel();
}

Spinner* GetInfoPanelController::spinner() const {
    return m_spinner.data();
}

QList<GetInfoPanelController*> GetInfoPanelController::openPanels() {
    return panels();
}

void GetInfoPanelController::showWindow() {
    panels().append(this);
    Logger::ui().debug("Get Info shows %s", m_item.path().absoluteString());
    const QScreen* screen =
        m_window->parentWidget() ? m_window->parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        m_placedAt = cascadedPosition(screen->availableGeometry());
        m_window->move(m_placedAt);
    }
    m_window->show();
}

QPoint GetInfoPanelController::cascadedPosition(const QRect& available) const {
    QRect frame(QPoint(), m_window->size());
    frame.moveCenter(available.center());
    // Each panel steps down and right from a place another one takes, as this desktop cascades
    // new windows, so that none hides another; one that would leave the screen starts again
    // at its top left corner.
    const auto taken = [this](const QPoint& place) {
        return std::any_of(
            panels().cbegin(), panels().cend(), [this, place](const GetInfoPanelController* panel) {
                return panel != this && (panel->m_placedAt == place || panel->m_window->pos() == place);
            });
    };
    for (qsizetype step = 0; step < panels().size() && taken(frame.topLeft()); ++step) {
        frame.translate(cascadeOffset, cascadeOffset);
        if (!available.contains(frame))
            frame.moveTopLeft(available.topLeft());
    }
    return frame.topLeft();
}

QString GetInfoPanelController::displayPath(const FileItem& item) {
    if (item.path().scheme() == u"afc") {
        if (const auto components = afcComponents(item.path()))
            return components->devicePath;
    }
    return item.path().path();
}

QList<QPair<QString, QString>> GetInfoPanelController::infoRows(const FileItem& item) {
    QList<QPair<QString, QString>> rows;
    rows.append({QStringLiteral("Kind:"), PreviewPaneViewController::kindText(item)});
    if (!item.isDirectory())
        rows.append({QStringLiteral("Size:"), ByteCountFormatter::file(item.size())});
    rows.append({QStringLiteral("Modified:"), DateFormat::mediumShort(item.modifiedDate())});
    rows.append({QStringLiteral("Path:"), displayPath(item)});
    return rows;
}

void GetInfoPanelController::buildContent() {
    auto* stack = new QVBoxLayout(m_window);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(12);

    m_iconView = new QLabel;
    m_iconView->setObjectName(QStringLiteral("infoImageView"));
    m_iconView->setFixedSize(iconSize, iconSize);
    m_iconView->setAlignment(Qt::AlignCenter);
    m_iconView->setPixmap(FileItemListModel::icon(m_item).pixmap(iconSize, iconSize));
    stack->addWidget(m_iconView, 0, Qt::AlignHCenter);

    m_nameLabel = new QLabel;
    m_nameLabel->setObjectName(QStringLiteral("infoNameLabel"));
    m_nameLabel->setFont(Fonts::system(15, Fonts::Weight::bold));
    m_nameLabel->setAlignment(Qt::AlignCenter);
    // A long name keeps its start and its extension.
    const int nameWidth = panelWidth - 40;
    m_nameLabel->setText(m_nameLabel->fontMetrics().elidedText(m_item.name(), Qt::ElideMiddle, nameWidth));
    m_nameLabel->setToolTip(m_item.name());
    stack->addWidget(m_nameLabel);

    // The stack's own margins already keep everything 20 px inside the panel: the separator and
    // the grid take the width between them, or the values would get barely 100 px and wrap a date.
    auto* separator = new QFrame;
    separator->setFrameShape(QFrame::HLine);
    separator->setFixedWidth(panelWidth - 40);
    stack->addWidget(separator, 0, Qt::AlignHCenter);

    auto* grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(8);
    int row = 0;
    for (const auto& [label, value] : infoRows(m_item)) {
        auto* labelView = new QLabel(label);
        labelView->setFont(Fonts::system(12));
        labelView->setAlignment(Qt::AlignRight | Qt::AlignTop);
        Colours::setLabelColour(labelView, Colours::Label::secondary);
        auto* valueView = new QLabel(value);
        valueView->setObjectName(QStringLiteral("infoValue-%1").arg(row));
        valueView->setFont(Fonts::system(12));
        valueView->setWordWrap(true);
        // Wraps at this width, not earlier: a wrapping label left to the grid asks for less.
        valueView->setFixedWidth(valueWidth);
        valueView->setTextInteractionFlags(Qt::TextSelectableByMouse);
        valueView->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        grid->addWidget(labelView, row, 0, Qt::AlignRight | Qt::AlignTop);
        grid->addWidget(valueView, row, 1, Qt::AlignLeft | Qt::AlignTop);
        ++row;
    }
    stack->addLayout(grid);
    stack->addStretch(1);
    loadThumbnail();
}

void GetInfoPanelController::loadThumbnail() {
    const bool picture = m_item.kind() == FileKind::image || m_item.kind() == FileKind::video;
    if (!picture || !m_thumbnailCache || !PreferencesViewController::enableThumbnails())
        return;
    m_spinner = new Spinner(m_iconView);
    const QSize size = m_spinner->sizeHint();
    m_spinner->setGeometry((iconSize - size.width()) / 2, (iconSize - size.height()) / 2, size.width(),
                           size.height());
    m_spinner->startAnimation();
    QPointer<GetInfoPanelController> self(this);
    ThumbnailCache* cache = m_thumbnailCache;
    const FileItem item = m_item;
    auto bridge = m_afcBridge;
    m_thumbnailTask = async::spawn([self, cache, item, bridge](std::stop_token token) {
        return fetchThumbnail(self, cache, item, bridge, token);
    });
}

void GetInfoPanelController::thumbnailArrived(const QImage& image) {
    if (m_spinner) {
        m_spinner->stopAnimation();
        m_spinner->deleteLater();
        m_spinner = nullptr;
    }
    if (image.isNull())
        return;
    m_iconView->setPixmap(
        QPixmap::fromImage(image.scaled(iconSize, iconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}
