// The window's commands along the command chain: which are enabled, and what each does (the edit
// commands go to the browser on screen; the view modes, the history, Get Info and Quick Look are
// the window's own).

#include "app/MainWindowController.h"

#include "browser/BrowserCommandHandling.h"
#include "browser/BrowserContainerController.h"
#include "browser/FileContextMenu.h"
#include "device/DeviceManager.h"
#include "platform/UiTimerSource.h"
#include "services/NavigationState.h"
#include "sidebar/QuickLookCoordinator.h"
#include "uikit/Beep.h"
#include "uikit/QuickLookPanel.h"
#include "uikit/Workspace.h"

#include <QMainWindow>

BrowserCommandHandling* MainWindowController::currentBrowser() const {
    return m_browserContainer ? m_browserContainer->currentCommandHandler() : nullptr;
}

bool MainWindowController::validate(const QString& selector) {
    BrowserCommandHandling* browser = currentBrowser();
    if (selector == u"cut:" || selector == u"copy:" || selector == u"duplicate:" ||
        selector == u"deleteBackward:")
        return browser && browser->hasSelection();
    if (selector == u"rename:")
        return browser && browser->canRename() && browser->hasSelection();
    if (selector == u"paste:")
        return browser && browser->canPaste();
    if (selector == u"selectAll:")
        return !m_navigationState->currentDirectoryContents.value().isEmpty();
    if (selector == u"goBackAction:")
        return !m_navigationState->backStack().isEmpty();
    if (selector == u"goForwardAction:")
        return !m_navigationState->forwardStack().isEmpty();
    if (selector == u"showColumnsView:" || selector == u"showListView:" || selector == u"showIconsView:")
        return true;
    if (selector == u"toggleQuickLook:")
        return true;
    // As the context menu offers it: for one item of the browser on screen.
    if (selector == u"getInfo:")
        return browser && m_navigationState->selectedItems.value().size() == 1;
    // Quick Look and the Transfer Center arrive with the windows that answer them.
    return false;
}

void MainWindowController::setViewMode(BrowserViewMode mode) {
    m_navigationState->viewMode = mode;
}

void MainWindowController::perform(const QString& selector, QObject*) {
    BrowserCommandHandling* browser = currentBrowser();
    // An edit command no browser answers beeps; it is not validated first, so that the beep
    // sounds also where the menu item was disabled (a key that still reached us).
    using Command = void (BrowserCommandHandling::*)();
    static const QHash<QString, Command> editCommands{
        {QStringLiteral("cut:"), &BrowserCommandHandling::cutSelection},
        {QStringLiteral("copy:"), &BrowserCommandHandling::copySelection},
        {QStringLiteral("paste:"), &BrowserCommandHandling::paste},
        {QStringLiteral("duplicate:"), &BrowserCommandHandling::duplicateSelection},
        {QStringLiteral("deleteBackward:"), &BrowserCommandHandling::deleteSelection},
        {QStringLiteral("rename:"), &BrowserCommandHandling::renameSelection},
    };
    if (const auto command = editCommands.constFind(selector); command != editCommands.constEnd()) {
        if (!browser) {
            Beep::beep();
            return;
        }
        // A stale enabled state never runs a command: Qt hands a disabled item's key on.
        if (validate(selector))
            (browser->**command)();
        return;
    }
    if (selector == u"selectAll:") {
        if (browser) {
            browser->selectAllItems();
        } else {
            const QList<FileItem>& contents = m_navigationState->currentDirectoryContents.value();
            m_navigationState->selectedItems = QSet<FileItem>(contents.begin(), contents.end());
        }
        return;
    }
    if (!validate(selector))
        return;
    if (selector == u"toggleQuickLook:") {
        toggleQuickLook();
        return;
    }
    if (selector == u"getInfo:") {
        showItemInfo(*m_navigationState->selectedItems.value().cbegin(), m_deviceManager.afcBridge(), nullptr,
                     m_window.get(), &Workspace::reveal, m_alertPresenter);
        return;
    }
    if (selector == u"showColumnsView:")
        setViewMode(BrowserViewMode::column);
    else if (selector == u"showListView:")
        setViewMode(BrowserViewMode::list);
    else if (selector == u"showIconsView:")
        setViewMode(BrowserViewMode::icon);
    else if (selector == u"goBackAction:")
        m_navigationState->goBack();
    else if (selector == u"goForwardAction:")
        m_navigationState->goForward();
}

QuickLookCoordinator* MainWindowController::quickLookCoordinator() {
    if (!m_quickLookCoordinator) {
        m_quickLookCoordinator = std::make_unique<QuickLookCoordinator>(
            *m_navigationState, m_deviceManager.afcBridge(), UiTimerSource::system());
        QPointer<QMainWindow> window(m_window.get());
        m_quickLookCoordinator->mainWindow = [window]() -> QWidget* {
            return window.data();
        };
        m_quickLookCoordinator->alertPresenter = m_alertPresenter;
    }
    return m_quickLookCoordinator.get();
}

void MainWindowController::toggleQuickLook() {
    QuickLookCoordinator* coordinator = quickLookCoordinator();
    QuickLookPanel* panel = QuickLookPanel::shared();
    if (panel->isPanelVisible()) {
        panel->orderOut();
        return;
    }
    // A second press while the first still waits for a device copy means "never mind".
    if (coordinator->cancelPendingShows())
        return;
    coordinator->showPanel(panel);
}
