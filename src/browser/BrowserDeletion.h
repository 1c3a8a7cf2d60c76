#pragma once

#include "models/FileItem.h"
#include "platform/async/Task.h"
#include "uikit/AlertPresenter.h"

#include <QList>
#include <QStringList>

#include <memory>

class FileSystemProvider;

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

} // namespace BrowserDeletion
