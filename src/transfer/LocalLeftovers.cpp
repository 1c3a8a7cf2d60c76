#include "transfer/LocalLeftovers.h"

#include "device/LeftoverJournal.h"
#include "platform/Error.h"
#include "platform/Logger.h"
#include "transfer/LocalTransferFiles.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>

namespace {

void settle(const LeftoverJournal::Entry& entry) {
    if (!LocalTransferFiles::inspect(entry.path))
        return;
    if (entry.kind == LeftoverJournal::Kind::asideItem && !LocalTransferFiles::inspect(entry.originalPath)) {
        if (::renameat2(AT_FDCWD, QFile::encodeName(entry.path).constData(), AT_FDCWD,
                        QFile::encodeName(entry.originalPath).constData(), RENAME_NOREPLACE) == 0) {
            Logger::filesystem().info("Put back %s, whose replacement never finished", entry.originalPath);
            return;
        }
        if (errno != EEXIST)
            throw FileError::fromErrno(QStringLiteral("put back"), entry.path);
    }
    LocalTransferFiles::removeItem(entry.path);
    Logger::filesystem().info("Removed %s, left by a copy that was cut off", entry.path);
}

} // namespace

void LocalLeftovers::recover(LeftoverJournal& journal) {
    for (const LeftoverJournal::Entry& entry : journal.leftovers(QString())) {
        try {
            settle(entry);
            journal.finished(entry);
        } catch (const Error& error) {
            Logger::filesystem().error("Could not put right %s: %s", entry.path, error.description());
        }
    }
}
