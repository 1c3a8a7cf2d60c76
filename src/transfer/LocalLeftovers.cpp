#include "transfer/LocalLeftovers.h"

#include "device/LeftoverCleanup.h"
#include "device/LeftoverJournal.h"
#include "platform/Error.h"
#include "platform/Logger.h"
#include "services/LocalFileOperations.h"
#include "transfer/LocalTransferFiles.h"

#include <QDir>
#include <QFile>

#include <cerrno>

namespace {

using Presence = LeftoverCleanup::Presence;

// Only "no such item" means absent: a disk that answers with an error says nothing either way.
Presence lookUp(const QString& path) {
    try {
        return LocalTransferFiles::inspect(path) ? Presence::present : Presence::absent;
    } catch (const FileError&) {
        return Presence::unknown;
    }
}

const LeftoverCleanup::Place computer{
    lookUp,
    [](const QString& folder) -> std::optional<QStringList> {
        QDir dir(folder);
        if (!dir.exists() || !dir.isReadable())
            return std::nullopt;
        return dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    },
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
    [](const QString& path) { LocalTransferFiles::removeItem(path); },
    LeftoverJournal::isRecordedFolder};

} // namespace

bool LocalLeftovers::settle(const LeftoverJournal::Entry& entry) {
    return LeftoverCleanup::settle(entry, computer);
}

void LocalLeftovers::recover(LeftoverJournal& journal) {
    for (const LeftoverJournal::Entry& entry : journal.leftovers(QString())) {
        try {
            if (LeftoverCleanup::settle(entry, computer))
                journal.finished(entry);
        } catch (const Error& error) {
            Logger::filesystem().error("Could not put right %s: %s", entry.path, error.description());
        }
    }
}
