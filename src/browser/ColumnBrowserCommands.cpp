// The column browser's edit commands, from the window's menu, a column's keys or its context
// menu: copy, cut and paste, duplicate (with the names of the copies), rename and delete (with
// its question on a device and the summary of what failed).

#include "browser/ColumnBrowserViewController.h"

#include "browser/BrowserDeletion.h"
#include "browser/Duplicates.h"
#include "browser/ColumnPanelView.h"
#include "browser/ColumnTableView.h"
#include "platform/Logger.h"
#include "services/FileSystemProvider.h"
#include "transfer/ClipboardManager.h"
#include "transfer/TransferManager.h"
#include "uikit/AlertPresenter.h"

#include <QDir>
#include <QFileInfo>

namespace {

using Self = QPointer<ColumnBrowserViewController>;

// Splits a name into its base and its extension as the duplicate names need them: a leading dot
// marks a hidden name, not an extension.
std::pair<QString, QString> splitExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || dot == name.size() - 1)
        return {name, QString()};
    return {name.left(dot), name.mid(dot + 1)};
}

async::Task<void> runPaste(Self self, ClipboardManager* clipboard, URL folder, std::stop_token) {
    if (!self)
        co_return;
    // A copy into a phone's folder that ended whole had every browser list its folders again.
    bool heard = false;
    if (clipboard)
        heard = co_await clipboard->paste(folder);
    if (self && !heard)
        self->didChangeContents(folder);
}

} // namespace

bool ColumnBrowserViewController::canPaste() const {
    const int column = focusedColumn();
    if (column < 0 || !clipboardManager)
        return false;
    return clipboardManager->canPaste(m_panels.at(column)->directoryPath);
}

void ColumnBrowserViewController::copyItems(const QList<FileItem>& items, bool cut) {
    if (items.isEmpty() || !clipboardManager)
        return;
    clipboardManager->items = items;
    clipboardManager->mode = cut ? ClipboardManager::Mode::cut : ClipboardManager::Mode::copy;
    Logger::ui().debug("%s %ld items in the columns", cut ? "Cut" : "Copied", items.size());
}

void ColumnBrowserViewController::copySelection() {
    copyItems(m_selection, false);
}

void ColumnBrowserViewController::cutSelection() {
    copyItems(m_selection, true);
}

void ColumnBrowserViewController::paste() {
    const int column = focusedColumn();
    if (column < 0)
        return;
    pasteInto(m_panels.at(column)->directoryPath);
}

void ColumnBrowserViewController::pasteInto(const URL& folder) {
    Self self(this);
    ClipboardManager* clipboard = clipboardManager;
    startTask(async::spawn([self, clipboard, folder](std::stop_token token) {
        return runPaste(self, clipboard, folder, token);
    }));
}

void ColumnBrowserViewController::selectAllItems() {
    const int column = focusedColumn();
    if (column < 0)
        return;
    ColumnPanelView* panel = m_panels.at(column);
    const quint64 published = m_selectionPublishes;
    panel->tableView()->selectAll();
    // A selection that changed was published by the column's own handler, which also cut the
    // columns back (the panel itself stays); a second list of every row would only cost. One
    // that did not change (all selected already) is published here.
    if (m_selectionColumn == column && m_selectionPublishes != published)
        return;
    m_selectionColumn = column;
    publishSelection(panel->selectedItems());
}

void ColumnBrowserViewController::renameSelection() {
    const int column = focusedColumn(true);
    if (column < 0)
        return;
    ColumnPanelView* panel = m_panels.at(column);
    const QList<int> rows = panel->selectedRows();
    if (rows.isEmpty() || rows.first() >= panel->items().size())
        return;
    panel->beginRename(panel->items().at(rows.first()));
}

QString ColumnBrowserViewController::duplicateName(const QString& name) {
    const auto [base, extension] = splitExtension(name);
    return extension.isEmpty() ? base + QStringLiteral(" copy") : base + QStringLiteral(" copy.") + extension;
}

QString ColumnBrowserViewController::uniqueDuplicateName(const QString& name, const URL& folder) {
    if (folder.scheme() != u"file")
        return duplicateName(name);
    const auto [base, extension] = splitExtension(name);
    const QString folderPath = folder.toLocalFile();
    const auto taken = [&folderPath](const QString& candidate) {
        // A dangling symbolic link takes its name too.
        const QFileInfo info(QDir(folderPath).filePath(candidate));
        return info.exists() || info.isSymLink();
    };
    QString candidate = name;
    for (int n = 1; taken(candidate); ++n) {
        candidate = base + QStringLiteral(" copy") + (n == 1 ? QString() : QStringLiteral(" %1").arg(n)) +
                    (extension.isEmpty() ? QString() : QStringLiteral(".") + extension);
    }
    return candidate;
}

void ColumnBrowserViewController::duplicateSelection() {
    duplicateItems(m_selection);
}

void ColumnBrowserViewController::duplicateItems(const QList<FileItem>& items) {
    if (items.isEmpty() || !m_transferManager)
        return;
    startTask(async::spawn(
        [items, provider = m_fileSystemProvider, transfers = m_transferManager](std::stop_token token) {
            return Duplicates::duplicate(items, provider, transfers, token);
        }));
}

QString ColumnBrowserViewController::deleteQuestion(const QList<FileItem>& items) {
    QStringList names;
    for (qsizetype i = 0; i < std::min<qsizetype>(3, items.size()); ++i)
        names.append(items.at(i).name());
    QString text = QStringLiteral("Delete \"") + names.join(QStringLiteral(", "));
    if (items.size() > 3)
        text += QStringLiteral(" and %1 more").arg(items.size() - 3);
    return text + QStringLiteral("\"?");
}

void ColumnBrowserViewController::deleteSelection() {
    deleteItems(m_selection);
}

void ColumnBrowserViewController::deleteItems(const QList<FileItem>& items) {
    if (items.isEmpty())
        return;
    std::optional<AlertRequest> question;
    if (items.first().path().scheme() == u"afc")
        question = BrowserDeletion::question(
            deleteQuestion(items), QStringLiteral("This will permanently delete the file(s) from your device."));
    if (!m_alertPresenter)
        m_alertPresenter = std::make_shared<DialogAlertPresenter>();
    Self self(this);
    const QPointer<QWidget> view(this);
    const std::function<void()> changed = [self] {
        if (self)
            self->didChangeContents();
    };
    auto provider = m_fileSystemProvider;
    auto presenter = m_alertPresenter;
    startTask(async::spawn([view, changed, provider, presenter, items, question](std::stop_token token) {
        return BrowserDeletion::confirmAndDelete(view, changed, provider, presenter, items, question, token);
    }));
}
