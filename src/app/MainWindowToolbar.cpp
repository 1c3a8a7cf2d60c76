// The toolbar's actions: back and forward, the view mode, the search query, Copy of the selection
// (into the default destination, or with Alt into a folder the user chooses), the preview pane
// and the Transfer Center.

#include "app/MainWindowController.h"

#include "services/NavigationState.h"
#include "services/PreferencesViewController.h"
#include "services/SelectionOrder.h"
#include "transfer/TransferManager.h"
#include "uikit/Beep.h"
#include "uikit/FolderChooser.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QToolButton>

#include <algorithm>

namespace {

// Copy's folder question: the copy starts only when the user chose a folder and the window's
// controller is still there.
async::Task<void> copyIntoChosenFolder(QPointer<MainWindowController> controller,
                                       std::shared_ptr<FolderChooser> chooser,
                                       TransferManager* transferManager, QList<FileItem> items,
                                       std::stop_token token) {
    FolderChooser::Request request;
    request.prompt = QStringLiteral("Copy Here");
    request.message = QStringLiteral("Choose a destination for %1 item%2")
                          .arg(items.size())
                          .arg(items.size() == 1 ? "" : "s");
    QWidget* parent = controller ? controller->window() : nullptr;
    const std::optional<URL> chosen = co_await chooser->choose(request, parent, token);
    if (token.stop_requested() || !controller || !chosen)
        co_return;
    const Transfer transfer = transferManager->startTransfer(items, *chosen);
    transferManager->launchTask(transfer);
}

} // namespace

void MainWindowController::setupToolbar() {
    auto* toolbar = new Toolbar;
    QPointer<MainWindowController> self(this);
    toolbar->onBackForward = [self](int index) {
        if (self)
            self->backForwardClicked(index);
    };
    toolbar->onViewMode = [self](int segment) {
        if (self)
            self->viewModeChanged(segment);
    };
    toolbar->onSearch = [self](const QString& text) {
        if (self)
            self->searchFieldChanged(text);
    };
    toolbar->onCopy = [self] {
        // The modifiers of the click's own event, not the keyboard's state now.
        if (self)
            self->copySelectedFiles(QGuiApplication::keyboardModifiers());
    };
    toolbar->onTogglePreview = [self] {
        if (self)
            self->togglePreviewPane();
    };
    toolbar->onShowTransferCenter = [self, toolbar] {
        if (self && self->sendAction)
            self->sendAction(QStringLiteral("showTransferCenter:"), toolbar->transferCenterButton());
    };
    m_window->addToolBar(Qt::TopToolBarArea, toolbar);
    m_toolbar = toolbar;
}

void MainWindowController::setFolderChooser(std::shared_ptr<FolderChooser> chooser) {
    m_folderChooser = std::move(chooser);
}

void MainWindowController::backForwardClicked(int index) {
    if (index == 0)
        m_navigationState->goBack();
    else
        m_navigationState->goForward();
}

void MainWindowController::viewModeChanged(int segment) {
    if (unsigned(segment) < 3)
        setViewMode(BrowserViewMode(segment));
}

void MainWindowController::searchFieldChanged(const QString& text) {
    m_navigationState->searchQuery = text;
}

void MainWindowController::togglePreviewPane() {
    // Once the split view is gone (the empty state) there is no pane to fold.
    if (!m_splitView || !m_previewPaneView || m_previewPaneView->parentWidget() != m_splitView)
        return;
    const int index = m_splitView->indexOf(m_previewPaneView);
    // Dragging the divider to the edge collapses the pane to no width while it stays shown: that
    // counts as folded too, or the toggle would "show" a pane nobody can see.
    const bool folded = m_previewPaneView->isHidden() || m_splitView->sizes().value(index) == 0;
    if (!folded) {
        m_previewPaneView->hide();
        return;
    }
    m_previewPaneView->show();
    QList<int> sizes = m_splitView->sizes();
    if (sizes.value(index) > 0)
        return;
    // A pane the splitter collapsed comes back at its first width, taken from the browser.
    const int width = std::clamp(previewPaneWidth, m_previewPaneView->minimumWidth(),
                                 m_previewPaneView->maximumWidth());
    const int browserIndex = m_splitView->indexOf(m_browserContainerView);
    sizes[index] = width;
    if (browserIndex >= 0)
        sizes[browserIndex] = std::max(0, sizes[browserIndex] - width);
    m_splitView->setSizes(sizes);
}

void MainWindowController::copySelectedFiles(Qt::KeyboardModifiers modifiers) {
    const QSet<FileItem>& selection = m_navigationState->selectedItems.value();
    if (selection.isEmpty()) {
        Beep::beep();
        return;
    }
    const QList<FileItem> items =
        SelectionOrder::inListingOrder(selection, m_navigationState->currentDirectoryContents.value());

    if (modifiers.testFlag(Qt::AltModifier)) {
        QPointer<MainWindowController> self(this);
        auto chooser = m_folderChooser;
        TransferManager* transferManager = &m_transferManager;
        m_copyTasks.removeIf([](const async::TaskHandle<void>& task) { return task.isFinished(); });
        m_copyTasks.append(async::spawn([self, chooser, transferManager, items](std::stop_token token) {
            return copyIntoChosenFolder(self, chooser, transferManager, items, token);
        }));
        return;
    }
    const Transfer transfer =
        m_transferManager.startTransfer(items, PreferencesViewController::defaultDestination());
    m_transferManager.launchTask(transfer);
}
