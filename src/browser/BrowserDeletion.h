#pragma once

#include "models/FileItem.h"
#include "platform/async/Task.h"
#include "uikit/AlertPresenter.h"

#include <QList>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class FileSystemProvider;
class QWidget;

// How every browser deletes the items its Delete acts on, once nothing more is to be asked.
namespace BrowserDeletion {

// Deletes the items one after the other, each on its own: one that fails is logged and the next
// one follows. The names of those that could not be deleted, in order.
async::Task<QStringList> deleteEach(std::shared_ptr<FileSystemProvider> provider, QList<FileItem> items);

// The question asked before device items are deleted: Delete (first) or Cancel.
AlertRequest question(const QString& message, const QString& informative);

// The warning that names the items that could not be deleted (failures: not empty), so that a
// delete that failed never passes for done.
AlertRequest failureSummary(const QStringList& failures);

// A browser's Delete from end to end: asks question first when there is one (any answer but
// Delete ends it), deletes every item (to the end even when the view goes meanwhile), then, while
// the view is still there, calls changed and names in one warning over it what failed.
async::Task<void> confirmAndDelete(QPointer<QWidget> view, std::function<void()> changed,
                                   std::shared_ptr<FileSystemProvider> provider,
                                   std::shared_ptr<AlertPresenter> presenter, QList<FileItem> items,
                                   std::optional<AlertRequest> question, std::stop_token token);

} // namespace BrowserDeletion
