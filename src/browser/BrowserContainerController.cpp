#include "browser/BrowserContainerController.h"

#include "browser/BrowserCommandHandling.h"
#include "browser/ColumnBrowserViewController.h"
#include "platform/Logger.h"
#include "platform/UiTimerSource.h"
#include "services/NavigationState.h"

#include <QVBoxLayout>

namespace {

const char* modeName(BrowserViewMode mode) {
    switch (mode) {
    case BrowserViewMode::icon:
        return "icon";
    case BrowserViewMode::list:
        return "list";
    case BrowserViewMode::column:
        break;
    }
    return "column";
}

} // namespace

BrowserContainerController::BrowserContainerController(std::shared_ptr<FileSystemProvider> fileSystemProvider,
                                                       NavigationState& navigationState,
                                                       std::shared_ptr<TransferManager> transferManager,
                                                       FavoritesManager* favoritesManager,
                                                       ClipboardManager* clipboardManager, QWidget* parent)
    : QWidget(parent), m_fileSystemProvider(std::move(fileSystemProvider)),
      m_navigationState(navigationState), m_transferManager(std::move(transferManager)),
      m_favoritesManager(favoritesManager), m_clipboardManager(clipboardManager),
      m_timers(&UiTimerSource::system()) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QPointer<BrowserContainerController> self(this);
    m_cancellables.push_back(m_navigationState.viewMode.subscribe(
        [self](BrowserViewMode mode) {
            if (self)
                self->showBrowser(mode);
        },
        Delivery::Queued));
}

BrowserContainerController::~BrowserContainerController() {
    m_cancellables.clear();
}

BrowserCommandHandling* BrowserContainerController::currentCommandHandler() const {
    return dynamic_cast<BrowserCommandHandling*>(m_currentChild.data());
}

QWidget* BrowserContainerController::browserFor(BrowserViewMode mode) {
    if (mode == BrowserViewMode::column) {
        if (!m_columnBrowser) {
            m_columnBrowser = new ColumnBrowserViewController(
                m_fileSystemProvider, m_navigationState, m_transferManager, m_favoritesManager, *m_timers);
            m_columnBrowser->clipboardManager = m_clipboardManager;
            m_columnBrowser->setAlertPresenter(m_alertPresenter);
            QPointer<BrowserContainerController> self(this);
            m_columnBrowser->onQuickLook = [self] {
                if (self && self->onQuickLook)
                    self->onQuickLook();
            };
        }
        return m_columnBrowser;
    }
    // Until the list and icon views exist their mode shows an empty pane that answers no
    // command, so the window beeps at them.
    QWidget*& pane = m_emptyPanes[int(mode)];
    if (!pane) {
        pane = new QWidget;
        pane->setObjectName(QStringLiteral("%1BrowserPane").arg(QLatin1String(modeName(mode))));
    }
    return pane;
}

void BrowserContainerController::showBrowser(BrowserViewMode mode) {
    if (m_currentChild) {
        if (auto* handler = currentCommandHandler())
            handler->setPublishesSharedState(false);
        layout()->removeWidget(m_currentChild);
        m_currentChild->hide();
    }
    QWidget* browser = browserFor(mode);
    browser->setParent(this);
    layout()->addWidget(browser);
    browser->show();
    m_currentChild = browser;
    if (auto* handler = currentCommandHandler())
        handler->setPublishesSharedState(true);
    Logger::ui().debug("Switched to %s view", modeName(mode));
}
