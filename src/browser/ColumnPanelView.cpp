#include "browser/ColumnPanelView.h"

#include "browser/BrowserText.h"
#include "browser/ColumnTableView.h"
#include "browser/CutDimmingDelegate.h"
#include "browser/DragAndDropHandler.h"
#include "browser/DragOutProduction.h"
#include "browser/ErrorPlaceholderView.h"
#include "browser/FileContextMenu.h"
#include "browser/FileItemListModel.h"
#include "browser/OrvantaDragMimeData.h"
#include "browser/RenameFailure.h"
#include "models/Transfer.h"
#include "platform/Date.h"
#include "platform/Logger.h"
#include "platform/UniformType.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "services/FavoritesManager.h"
#include "services/FileSystemProvider.h"
#include "transfer/ClipboardManager.h"
#include "transfer/TransferManager.h"
#include "uikit/AlertPresenter.h"
#include "uikit/Fonts.h"
#include "uikit/ItemViewFocus.h"
#include "uikit/Spinner.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

// Rows drawn from the model's roles: a cut item dimmed, twenty pixels and one of spacing.
class ColumnItemDelegate : public CutDimmingDelegate {
public:
    using CutDimmingDelegate::CutDimmingDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), ColumnPanelView::rowHeight + 1};
    }
};

async::Task<void> renameItem(QPointer<ColumnPanelView> panel, std::shared_ptr<FileSystemProvider> provider,
                             URL from, URL to, std::stop_token token) {
    bool renamed = false;
    std::exception_ptr failure;
    if (provider) {
        try {
            co_await provider->renameItem(from, to);
            renamed = true;
        } catch (const async::CancelledError&) {
            throw;
        } catch (...) {
            failure = std::current_exception();
            Logger::ui().error("Rename failed: %s", async::describeException(failure));
        }
    }
    if (!panel)
        co_return;
    panel->reloadItems();
    if (renamed) {
        panel->followRenamedSelection(from, to);
        if (panel->onRenamed)
            panel->onRenamed(from, to);
        co_return;
    }
    if (!failure)
        co_return;
    // The old name is back in the row; the alert says why the new one was refused.
    std::shared_ptr<AlertPresenter> presenter = panel->presenter();
    const AlertRequest why = RenameFailure::alert(from.lastPathComponent(), to.lastPathComponent(), failure);
    QWidget* parent = panel->window();
    co_await presenter->ask(why, parent, token);
}

// An item for a dropped location that neither the column nor the provider could describe.
FileItem makeFileItem(const URL& url) {
    const QFileInfo info = url.isFileURL() ? QFileInfo(url.toLocalFile()) : QFileInfo();
    const bool isDirectory = url.isFileURL() && info.isDir();
    const QString name = url.lastPathComponent();
    const std::optional<UniformType> uti =
        isDirectory ? std::nullopt : UniformType::forFilenameExtension(QFileInfo(name).suffix());
    const Date modified = info.exists() ? Date::fromQDateTime(info.lastModified()) : Date::now();
    return FileItem(url.absoluteString(), name, url, isDirectory,
                    info.exists() && !isDirectory ? quint64(info.size()) : 0, modified,
                    isDirectory ? FileKind::folder : FileKind::fromUTI(uti), uti);
}

async::Task<void> carryOutDrop(QPointer<ColumnPanelView> panel, QList<FileItem> shown,
                               std::shared_ptr<FileSystemProvider> provider,
                               std::shared_ptr<TransferManager> transferManager, RowDropRules::Plan plan,
                               std::stop_token) {
    async::Task<QList<FileItem>> describing = ColumnPanelView::fileItems(shown, provider, plan.urls);
    const QList<FileItem> items = co_await std::move(describing);
    if (items.isEmpty())
        co_return;
    if (transferManager) {
        // The transfer engine reports its own failures; the drop adds nothing to them.
        std::exception_ptr failure;
        try {
            if (plan.isMove) {
                async::Task<void> moving = transferManager->moveItems(items, plan.target);
                co_await std::move(moving);
            } else {
                async::Task<void> copying =
                    transferManager->transferAndAwait(items, plan.target, std::nullopt);
                co_await std::move(copying);
            }
        } catch (const async::CancelledError&) {
            throw;
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure)
            Logger::ui().debug("Drop into %s ended with: %s", plan.target.absoluteString(),
                               async::describeException(failure));
    }
    if (panel && panel->onDropCompleted)
        panel->onDropCompleted(plan.target);
}

} // namespace

ColumnPanelView::ColumnPanelView(UiTimerSource& timers, QWidget* parent)
    : QWidget(parent), m_timers(timers), m_model(new FileItemListModel(this)),
      m_tableView(new ColumnTableView(timers, this)), m_spinner(new Spinner(this)) {
    setFixedWidth(defaultWidth);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);

    m_tableView->setModel(m_model);
    m_tableView->setItemDelegate(new ColumnItemDelegate(m_tableView));
    m_tableView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tableView->setUniformItemSizes(true);
    m_tableView->setIconSize(QSize(16, 16));
    m_tableView->setFont(Fonts::system(12));
    m_tableView->setTextElideMode(Qt::ElideRight);
    m_tableView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_tableView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_tableView->setFrameShape(QFrame::NoFrame);
    m_tableView->setFocusPolicy(Qt::StrongFocus);
    ItemViewFocus::install(m_tableView);
    m_tableView->onSlowSecondClick = [this](int row) {
        if (const auto item = m_model->item(row))
            beginRename(*item);
    };
    connect(m_tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ColumnPanelView::selectionDidChange);
    m_tableView->onStartDrag = [this] {
        startRowDrag();
    };
    m_tableView->onValidateDrop = [this](const QMimeData* data, int row, RowDropRules::Position position,
                                         Qt::KeyboardModifiers modifiers) {
        return validateDrop(data, row, position, modifiers);
    };
    m_tableView->onAcceptDrop = [this](const QMimeData* data, int row, RowDropRules::Position position,
                                       Qt::KeyboardModifiers modifiers) {
        return acceptDrop(data, row, position, modifiers);
    };
    m_tableView->onContextMenu = [this](QPoint global) {
        if (QMenu* menu = makeContextMenu(this)) {
            Logger::ui().debug("Context menu: %ld items in %s", selectedRows().size(),
                               directoryPath.absoluteString());
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(global);
        }
    };

    // The list, the placeholder and the spinner share one cell: the placeholder lies over the
    // list, the spinner in its centre.
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tableView, 0, 0);
    layout->addWidget(m_spinner, 0, 0, Qt::AlignCenter);
}

ColumnPanelView::~ColumnPanelView() {
    for (const auto& task : std::as_const(m_renameTasks))
        task.cancel();
    // A drop that was taken runs to its end; it only stops calling back into the panel.
}

const QList<FileItem>& ColumnPanelView::items() const {
    return m_model->items();
}

QList<FileItem> ColumnPanelView::setItems(QList<FileItem> items) {
    QList<URL> selectedPaths;
    for (const FileItem& item : selectedItems())
        selectedPaths.append(item.path());
    // A row renamed while selected stays selected under its new name once a listing shows it.
    if (m_renamedSelection) {
        const auto& [from, to] = *m_renamedSelection;
        const qsizetype at = selectedPaths.indexOf(from);
        const bool listed = std::any_of(items.cbegin(), items.cend(),
                                        [&to](const FileItem& item) { return item.path().isSameLocation(to); });
        if (at < 0)
            m_renamedSelection.reset();
        else if (listed) {
            selectedPaths[at] = to;
            m_renamedSelection.reset();
        }
    }
    m_model->showItems(std::move(items), m_tableView->selectionModel(), selectedPaths);
    m_tableView->viewport()->update();
    return selectedItems();
}

QList<FileItem> ColumnPanelView::selectedItems() const {
    return m_model->selectedItems(m_tableView->selectionModel());
}

QList<int> ColumnPanelView::selectedRows() const {
    return m_model->selectedRows(m_tableView->selectionModel());
}

bool ColumnPanelView::hasSelection() const {
    return m_tableView->selectionModel()->hasSelection();
}

void ColumnPanelView::setLoading(bool loading) {
    m_isLoading = loading;
    // The list stays (empty) under the spinner: a column that is still listing can already
    // take the keyboard focus that Right moves into it.
    if (loading)
        m_spinner->startAnimation();
    else
        m_spinner->stopAnimation();
}

void ColumnPanelView::setColumnWidth(int width) {
    setFixedWidth(width);
}

void ColumnPanelView::reloadItems() {
    removeErrorPlaceholder();
    m_tableView->viewport()->update();
}

void ColumnPanelView::showErrorPlaceholder(ErrorPlaceholderView* placeholder) {
    removeErrorPlaceholder();
    if (!placeholder)
        return;
    placeholder->setParent(this);
    static_cast<QGridLayout*>(layout())->addWidget(placeholder, 0, 0);
    placeholder->show();
    placeholder->raise();
    m_errorPlaceholder = placeholder;
}

void ColumnPanelView::removeErrorPlaceholder() {
    if (m_errorPlaceholder) {
        m_errorPlaceholder->hide();
        m_errorPlaceholder->deleteLater();
    }
    m_errorPlaceholder = nullptr;
}

void ColumnPanelView::observeClipboard() {
    m_clipboardSubscriptions.clear();
    if (!clipboardManager)
        return;
    ClipboardManager* clipboard = clipboardManager;
    const auto update = [this, clipboard] {
        m_model->setCutURLs(clipboard->cutItemURLs());
    };
    m_clipboardSubscriptions.push_back(
        clipboard->items.subscribe([update](const QList<FileItem>&) { update(); }, Delivery::Queued));
    m_clipboardSubscriptions.push_back(
        clipboard->mode.subscribe([update](ClipboardManager::Mode) { update(); }, Delivery::Queued));
}

void ColumnPanelView::selectionDidChange() {
    const QList<int> rows = selectedRows();
    if (rows.isEmpty()) {
        if (onDeselectAll)
            onDeselectAll();
        return;
    }
    const int row = rows.last();
    if (const auto item = m_model->item(row); item && onSelectItem)
        onSelectItem(*item, row);
}

void ColumnPanelView::beginRename(const FileItem& item) {
    if (m_renameTextField)
        cancelRename();
    const int row = m_model->rowOf(item.path());
    if (row < 0)
        return;
    const QModelIndex index = m_model->index(row);
    m_tableView->scrollTo(index);
    const QRect rowRect = m_tableView->visualRect(index);
    if (!rowRect.isValid())
        return;
    auto* field = new QLineEdit(m_tableView->viewport());
    field->setObjectName(QStringLiteral("renameTextField"));
    field->setFont(m_tableView->font());
    field->setText(item.name());
    const int textLeft = 4 + m_tableView->iconSize().width() + 4;
    field->setGeometry(rowRect.adjusted(textLeft, 0, 0, 0));
    field->installEventFilter(this);
    connect(field, &QLineEdit::editingFinished, this, [this] {
        if (m_renameTextField)
            commitRename();
    });
    field->show();
    field->selectAll();
    field->setFocus();
    m_renameTextField = field;
    m_renamingItem = item;
    Logger::ui().debug("Rename field open for %s", item.name());
}

bool ColumnPanelView::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_renameTextField ||
        (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride))
        return QWidget::eventFilter(watched, event);
    // Both keys end the editing here: the line edit leaves them unaccepted, and a Return that
    // went on to the list, or to a window shortcut, would open a new rename over the row just
    // renamed.
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (event->type() == QEvent::ShortcutOverride) {
        if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter)
            event->accept();
        return false;
    }
    switch (key) {
    case Qt::Key_Escape:
        cancelRename();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        commitRename();
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

std::optional<FileItem> ColumnPanelView::closeRenameField() {
    QLineEdit* field = m_renameTextField;
    std::optional<FileItem> item = std::exchange(m_renamingItem, std::nullopt);
    m_renameTextField = nullptr;
    if (field) {
        const bool hadFocus = field->hasFocus();
        field->removeEventFilter(this);
        field->disconnect(this);
        field->hide();
        field->deleteLater();
        if (hadFocus)
            m_tableView->setFocus();
    }
    return item;
}

void ColumnPanelView::commitRename() {
    if (!m_renameTextField || !m_renamingItem)
        return;
    const QString newName = BrowserText::trimSpacesTabs(m_renameTextField->text());
    const std::optional<FileItem> item = closeRenameField();
    if (!item || newName == item->name())
        return;
    m_renameTasks.removeIf([](const async::TaskHandle<void>& task) { return task.isFinished(); });
    // The old name is back in the row; the alert says why the new one cannot be given.
    if (std::optional<AlertRequest> why = RenameFailure::refusal(item->name(), newName)) {
        m_renameTasks.append(presentAlert(presenter(), window(), *why));
        return;
    }
    const URL from = item->path();
    const URL to = from.deletingLastPathComponent().appendingPathComponent(newName, from.hasDirectoryPath());
    QPointer<ColumnPanelView> self(this);
    auto provider = fileSystemProvider;
    m_renameTasks.append(async::spawn([self, provider, from, to](std::stop_token token) {
        return renameItem(self, provider, from, to, token);
    }));
}

void ColumnPanelView::cancelRename() {
    closeRenameField();
}

void ColumnPanelView::followRenamedSelection(const URL& from, const URL& to) {
    const QList<FileItem> selected = selectedItems();
    const bool isSelected = std::any_of(selected.cbegin(), selected.cend(),
                                        [&from](const FileItem& item) { return item.path() == from; });
    if (isSelected)
        m_renamedSelection = std::pair{from, to};
}

// --- context menu ---

QMenu* ColumnPanelView::makeContextMenu(QWidget* parent) {
    const QList<FileItem> items = selectedItems();
    if (items.isEmpty() || !transferManager)
        return nullptr;
    QPointer<ColumnPanelView> self(this);
    auto transfers = transferManager;
    FileContextMenuActions actions;
    actions.copyAction = [transfers, items](const URL& folder) {
        const Transfer transfer = transfers->startTransfer(items, folder);
        transfers->launchTask(transfer);
    };
    if (items.first().path().scheme() == u"afc")
        actions.moveAction = [transfers, items](const URL& folder) {
            transfers->moveItemsInBackground(items, folder);
        };
    FavoritesManager* favorites = favoritesManager;
    actions.addToSidebarAction = [favorites](const FileItem& item) {
        if (favorites)
            favorites->add(item.name(), item.path(), QStringLiteral("folder.fill"));
    };
    const auto forItems = [self, items](std::function<void(const QList<FileItem>&)> ColumnPanelView::*slot) {
        return [self, items, slot] {
            if (self && (self.data()->*slot))
                (self.data()->*slot)(items);
        };
    };
    actions.cutAction = forItems(&ColumnPanelView::onCutAction);
    actions.copyClipboardAction = forItems(&ColumnPanelView::onCopyClipboardAction);
    actions.duplicateAction = forItems(&ColumnPanelView::onDuplicateAction);
    actions.deleteAction = forItems(&ColumnPanelView::onDeleteAction);
    const URL folder = directoryPath;
    actions.pasteAction = [self, folder] {
        if (self && self->onPasteAction)
            self->onPasteAction(folder);
    };
    actions.canPaste = canPasteProvider && canPasteProvider();
    const FileItem first = items.first();
    actions.renameAction = [self, first] {
        if (self)
            self->beginRename(first);
    };
    QMenu* menu = makeFileContextMenu(items, transferManager->afcBridge(), std::move(actions), parent);
    if (ContextMenuTarget* target = ContextMenuTarget::of(menu)) {
        target->folderChooser = folderChooser;
        target->dialogParent = window();
        target->alertPresenter = presenter();
    }
    return menu;
}

// --- drags ---

std::shared_ptr<AlertPresenter> ColumnPanelView::presenter() const {
    return alertPresenter ? alertPresenter : std::make_shared<DialogAlertPresenter>();
}

void ColumnPanelView::startRowDrag() {
    const QList<FileItem> dragged = selectedItems();
    if (dragged.isEmpty() || !dragHandler)
        return;
    DragOutProduction::execDrag(m_tableView, dragged, dragHandler, m_timers, presenter());
}

// --- drops ---

RowDropRules::Operation ColumnPanelView::validateDrop(const QMimeData* data, int row,
                                                  RowDropRules::Position position,
                                                  Qt::KeyboardModifiers modifiers) {
    const RowDropRules::Context context =
        RowDropRules::contextFor(data, items(), directoryPath, row, position, modifiers);
    const RowDropRules::Operation operation = RowDropRules::validate(context);
    ColumnTableView::DropHighlight highlight;
    highlight.operation = operation;
    highlight.row =
        operation != RowDropRules::Operation::none && position == RowDropRules::Position::on ? row : -1;
    m_tableView->setDropHighlight(highlight);
    return operation;
}

bool ColumnPanelView::acceptDrop(const QMimeData* data, int row, RowDropRules::Position position,
                             Qt::KeyboardModifiers modifiers) {
    m_tableView->setDropHighlight({});
    const RowDropRules::Context context =
        RowDropRules::contextFor(data, items(), directoryPath, row, position, modifiers);
    const std::optional<RowDropRules::Plan> plan = RowDropRules::accept(context);
    if (!plan)
        return false;
    Logger::ui().info("Drop of %ld items %s %s", plan->urls.size(),
                      plan->isMove ? "moves into" : "copies into", plan->target.absoluteString());
    QPointer<ColumnPanelView> self(this);
    const QList<FileItem> shown = items();
    auto provider = fileSystemProvider;
    auto transfers = transferManager;
    const RowDropRules::Plan taken = *plan;
    m_dropTasks.removeIf([](const async::TaskHandle<void>& task) { return task.isFinished(); });
    m_dropTasks.append(async::spawn([self, shown, provider, transfers, taken](std::stop_token token) {
        return carryOutDrop(self, shown, provider, transfers, taken, token);
    }));
    return true;
}

async::Task<QList<FileItem>>
ColumnPanelView::fileItems(QList<FileItem> shown, std::shared_ptr<FileSystemProvider> provider, QList<URL> urls) {
    QList<FileItem> result;
    for (const URL& url : std::as_const(urls)) {
        const auto known = std::find_if(shown.cbegin(), shown.cend(), [&url](const FileItem& item) {
            return item.path().isSameLocation(url);
        });
        if (known != shown.cend()) {
            result.append(*known);
            continue;
        }
        std::optional<FileItem> described;
        if (provider) {
            try {
                async::Task<FileItem> describing =
                    url.scheme() == u"afc" ? provider->afcItem(url) : provider->localItem(url);
                described = co_await std::move(describing);
            } catch (const async::CancelledError&) {
                throw;
            } catch (...) {
                Logger::ui().debug("Dropped %s is described from its URL: %s", url.absoluteString(),
                                   async::describeException(std::current_exception()));
            }
        }
        result.append(described ? *described : makeFileItem(url));
    }
    co_return result;
}
