#include "browser/BrowserContainerController.h"

#include "browser/BrowserCommandHandling.h"
#include "browser/ColumnBrowserViewController.h"
#include "browser/ColumnPanelView.h"
#include "browser/ColumnTableView.h"
#include "platform/Logger.h"
#include "platform/UiTimerSource.h"
#include "services/FileSystemProvider.h"
#include "services/FolderWatcher.h"
#include "services/NavigationState.h"

#include <QApplication>
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

    // The computer folders on screen list again when their files change on disk, in every view.
    m_folderWatcher = new FolderWatcher(*m_timers, this);
    m_folderWatcher->onChange = [self](const QList<URL>& folders) {
        if (!self)
            return;
        for (const URL& folder : folders)
            self->m_fileSystemProvider->invalidateCache(folder);
        self->listAgain();
    };
    m_folderWatcher->entriesOf = [self](const URL& folder) -> qsizetype {
        return self ? self->shownEntries(folder) : 0;
    };
    const auto watchShownFolders = [self] {
        if (!self)
            return;
        QList<URL> folders = self->m_navigationState.columnPaths.value();
        if (const std::optional<URL>& current = self->m_navigationState.currentPath.value())
            folders.append(*current);
        self->m_folderWatcher->watch(folders);
    };
    m_cancellables.push_back(m_navigationState.columnPaths.subscribe(
        [watchShownFolders](const QList<URL>&) { watchShownFolders(); }, Delivery::Queued));
    m_cancellables.push_back(m_navigationState.currentPath.subscribe(
        [watchShownFolders](const std::optional<URL>&) { watchShownFolders(); }, Delivery::Queued));
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
            hearChanges(m_columnBrowser);
        }
        return m_columnBrowser;
    }
    if (mode == BrowserViewMode::list) {
        if (!m_listBrowser) {
            m_listBrowser =
                new ListBrowserViewController(m_fileSystemProvider, m_navigationState, m_transferManager,
                                              m_favoritesManager, m_clipboardManager);
            hookUp(m_listBrowser);
        }
        return m_listBrowser;
    }
    if (!m_iconBrowser) {
        m_iconBrowser =
            new IconBrowserViewController(m_fileSystemProvider, m_navigationState, m_transferManager,
                                          m_favoritesManager, m_clipboardManager);
        hookUp(m_iconBrowser);
    }
    return m_iconBrowser;
}

QWidget* BrowserContainerController::keyView() const {
    if (auto* flat = qobject_cast<FlatBrowserController*>(m_currentChild.data()))
        return flat->itemView();
    if (m_currentChild && m_currentChild == m_columnBrowser)
        return m_columnBrowser->keyView();
    return nullptr;
}

void BrowserContainerController::focusBrowser() {
    if (QWidget* view = keyView())
        view->setFocus();
}

void BrowserContainerController::hookUp(FlatBrowserController* browser) {
    browser->setAlertPresenter(m_alertPresenter);
    QPointer<BrowserContainerController> self(this);
    browser->onQuickLook = [self] {
        if (self && self->onQuickLook)
            self->onQuickLook();
    };
    hearChanges(browser);
}

void BrowserContainerController::hearChanges(BrowserCommandHandling* browser) {
    // Each browser lists on its own: the files one of them changed, the others must list again.
    QPointer<BrowserContainerController> self(this);
    browser->onContentsChanged = [self, browser](const QList<URL>& shown) {
        if (!self)
            return false;
        // Computer folders on screen are listed again by the watcher, which has heard of the
        // change too: a copy's end then reads a folder of a hundred thousand photos once, not
        // once for the watcher's report and once more for the copy.
        if (browser == self->currentCommandHandler() && self->m_folderWatcher->changedHere(shown))
            return true;
        // The browser that changed the files lists its folders again itself: what the watcher
        // saw of that change until now needs no listing of its own.
        self->m_folderWatcher->listedAgain(self->m_folderWatcher->watchedFolders());
        self->tellBrowsers(browser);
        return false;
    };
}

void BrowserContainerController::tellBrowsers(const BrowserCommandHandling* except) {
    const QList<BrowserCommandHandling*> browsers{m_columnBrowser.data(), m_listBrowser.data(),
                                                  m_iconBrowser.data()};
    for (BrowserCommandHandling* browser : browsers) {
        if (browser && browser != except)
            browser->contentsChangedElsewhere();
    }
}

qsizetype BrowserContainerController::shownEntries(const URL& folder) const {
    if (m_columnBrowser && m_currentChild == m_columnBrowser) {
        for (const ColumnBrowserViewController::ColumnState& column : m_columnBrowser->columns()) {
            if (column.path.isSameLocation(folder))
                return column.items.size();
        }
        return 0;
    }
    if (m_navigationState.currentPath.value() == std::optional<URL>(folder))
        return m_navigationState.currentDirectoryContents.value().size();
    return 0;
}

void BrowserContainerController::listAgain() {
    tellBrowsers(nullptr);
}

void BrowserContainerController::showBrowser(BrowserViewMode mode) {
    // The keyboard stays in the browser area: a switch made while the old browser had the focus
    // hands it to the new one, which would otherwise leave it to whatever Qt picks next.
    const QWidget* focus = QApplication::focusWidget();
    const bool hadFocus = m_currentChild && focus && m_currentChild->isAncestorOf(focus);
    QWidget* previous = m_currentChild;
    std::optional<BrowserCommandHandling::ShownFolder> shown;
    if (m_currentChild) {
        if (auto* handler = currentCommandHandler()) {
            shown = handler->shownFolder();
            handler->setPublishesSharedState(false);
        }
        layout()->removeWidget(m_currentChild);
        m_currentChild->hide();
    }
    QWidget* browser = browserFor(mode);
    browser->setParent(this);
    layout()->addWidget(browser);
    browser->show();
    m_currentChild = browser;
    if (auto* handler = currentCommandHandler()) {
        // The new view shows what the old one showed, from its listing where it can.
        if (shown && browser != previous)
            handler->takeOver(*shown);
        handler->setPublishesSharedState(true);
    }
    if (hadFocus)
        focusBrowser();
    Logger::ui().debug("Switched to %s view", modeName(mode));
}

void BrowserContainerController::setTimerSource(UiTimerSource& timers) {
    m_timers = &timers;
    m_folderWatcher->setTimerSource(timers);
}
