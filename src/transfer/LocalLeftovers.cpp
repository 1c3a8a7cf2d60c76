#include "transfer/LocalLeftovers.h"

#include "device/LeftoverJournal.h"
#include "platform/Error.h"
#include "platform/Logger.h"
#include "services/LocalFileOperations.h"
#include "transfer/LocalTransferFiles.h"

#include <cerrno>

namespace {

const LeftoverJournal::Place computer{
    [](const QString& path) { return LocalTransferFiles::inspect(path).has_value(); },
    [](const QString& from, const QString& to) {
        try {
            LocalFileOperations::renameWithoutReplacing(from, to);
            return true;
        } catch (const FileError& error) {
            if (error.code() != EEXIST)
                throw;
            return false;
        }
    },
    [](const QString& path) { LocalTransferFiles::removeItem(path); }};

} // namespace

void LocalLeftovers::recover(LeftoverJournal& journal) {
    for (const LeftoverJournal::Entry& entry : journal.leftovers(QString())) {
        try {
            LeftoverJournal::settle(entry, computer);
            journal.finished(entry);
        } catch (const Error& error) {
            Logger::filesystem().error("Could not put right %s: %s", entry.path, error.description());
        }
    }
}
