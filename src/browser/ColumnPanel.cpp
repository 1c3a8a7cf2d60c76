#include "browser/ColumnPanel.h"

#include "browser/BrowserText.h"
#include "browser/ColumnTableView.h"
#include "browser/ErrorPlaceholderView.h"
#include "browser/FileItemListModel.h"
#include "platform/Logger.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "services/FileSystemProvider.h"
#include "transfer/ClipboardManager.h"
#include "uikit/Fonts.h"
#include "uikit/Spinner.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

// Rows drawn from the model's roles: a cut item at its alpha, twenty pixels and one of spacing.
class ColumnItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        painter->setOpacity(index.data(FileItemListModel::AlphaRole).toDouble());
        QStyledItemDelegate::paint(painter, option, index);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), ColumnPanel::rowHeight + 1};
    }
};

async::Task<void> renameItem(QPointer<ColumnPanel> panel, std::shared_ptr<FileSystemProvider> provider,
                             URL from, URL to, std::stop_token) {
    bool renamed = false;
    if (provider) {
        try {
            co_await provider->renameItem(from, to);
            renamed = true;
        } catch (const async::CancelledError&) {
            throw;
        } catch (...) {
            Logger::ui().error("Rename failed: %@", async::describeException(std::current_exception()));
        }
    }
    if (!panel)
        co_return;
    panel->reloadItems();
    if (renamed && panel->onRenamed)
        panel->onRenamed();
}

} // namespace

ColumnPanel::ColumnPanel(UiTimerSource& timers, QWidget* parent)
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
    m_tableView->onSlowSecondClick = [this](int row) {
        if (const auto item = m_model->item(row))
            beginRename(*item);
    };
    connect(m_tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ColumnPanel::selectionDidChange);

    // The list, the placeholder and the spinner share one cell: the placeholder lies over the
    // list, the spinner in its centre.
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tableView, 0, 0);
    layout->addWidget(m_spinner, 0, 0, Qt::AlignCenter);
}

ColumnPanel::~ColumnPanel() {
    for (const auto& task : std::as_const(m_renameTasks))
        task.cancel();
}

const QList<FileItem>& ColumnPanel::items() const {
    return m_model->items();
}

QList<FileItem> ColumnPanel::setItems(QList<FileItem> items) {
    QList<URL> selectedPaths;
    for (const FileItem& item : selectedItems())
        selectedPaths.append(item.path());
    m_model->setItems(std::move(items));
    m_model->reselect(m_tableView->selectionModel(), selectedPaths);
    m_tableView->viewport()->update();
    return selectedItems();
}

QList<FileItem> ColumnPanel::selectedItems() const {
    return m_model->selectedItems(m_tableView->selectionModel());
}

QList<int> ColumnPanel::selectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : m_tableView->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void ColumnPanel::setLoading(bool loading) {
    m_isLoading = loading;
    // The list stays (empty) under the spinner: a column that is still listing can already
    // take the keyboard focus that Right moves into it.
    if (loading)
        m_spinner->startAnimation();
    else
        m_spinner->stopAnimation();
}

void ColumnPanel::setColumnWidth(int width) {
    setFixedWidth(width);
}

void ColumnPanel::reloadItems() {
    removeErrorPlaceholder();
    m_tableView->viewport()->update();
}

void ColumnPanel::showErrorPlaceholder(ErrorPlaceholderView* placeholder) {
    removeErrorPlaceholder();
    if (!placeholder)
        return;
    placeholder->setParent(this);
    static_cast<QGridLayout*>(layout())->addWidget(placeholder, 0, 0);
    placeholder->show();
    placeholder->raise();
    m_errorPlaceholder = placeholder;
}

void ColumnPanel::removeErrorPlaceholder() {
    if (m_errorPlaceholder) {
        m_errorPlaceholder->hide();
        m_errorPlaceholder->deleteLater();
    }
    m_errorPlaceholder = nullptr;
}

void ColumnPanel::observeClipboard() {
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

void ColumnPanel::selectionDidChange() {
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

void ColumnPanel::beginRename(const FileItem& item) {
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
    connect(field, &QLineEdit::returnPressed, this, &ColumnPanel::commitRename);
    connect(field, &QLineEdit::editingFinished, this, [this] {
        if (m_renameTextField)
            commitRename();
    });
    field->show();
    field->selectAll();
    field->setFocus();
    m_renameTextField = field;
    m_renamingItem = item;
}

bool ColumnPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_renameTextField && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        cancelRename();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

std::optional<FileItem> ColumnPanel::closeRenameField() {
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

void ColumnPanel::commitRename() {
    if (!m_renameTextField || !m_renamingItem)
        return;
    const QString newName = BrowserText::trimSpacesTabs(m_renameTextField->text());
    const std::optional<FileItem> item = closeRenameField();
    // "." and ".." name the folder itself and its parent, never an item in it.
    if (!item || newName.isEmpty() || newName.contains(u'/') || newName == item->name() || newName == u"." ||
        newName == u"..")
        return;
    const URL from = item->path();
    const URL to = from.deletingLastPathComponent().appendingPathComponent(newName, from.hasDirectoryPath());
    QPointer<ColumnPanel> self(this);
    auto provider = fileSystemProvider;
    m_renameTasks.removeIf([](const async::TaskHandle<void>& task) { return task.isFinished(); });
    m_renameTasks.append(async::spawn([self, provider, from, to](std::stop_token token) {
        return renameItem(self, provider, from, to, token);
    }));
}

void ColumnPanel::cancelRename() {
    closeRenameField();
}
