#include "device/LocalReplacement.h"

#include "device/AFCPath.h"
#include "device/LeftoverCleanup.h"
#include "platform/FileRename.h"
#include "platform/Logger.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

LocalReplacement::LocalReplacement(QString target, bool replaceExisting, QString partialMark,
                                   LeftoverJournal* journal)
    : m_target(std::move(target)), m_replaceExisting(replaceExisting), m_partialMark(std::move(partialMark)),
      m_journal(journal) {}

LocalReplacement::~LocalReplacement() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_committed || m_temporary.isEmpty()) {
        endEntry(true);
        return;
    }
    if (::unlink(m_temporary.constData()) != 0 && errno != ENOENT) {
        const int error = errno;
        Logger::bridge().error("Could not remove partial download %s (errno %d)",
                               QFile::decodeName(m_temporary), error);
        endEntry(false);
        return;
    }
    endEntry(true);
}

void LocalReplacement::endEntry(bool gone) {
    if (!m_entry)
        return;
    if (gone)
        m_journal->finished(*m_entry);
    else
        m_journal->released(*m_entry);
    m_entry.reset();
}

int LocalReplacement::open() {
    const QByteArray target = QFile::encodeName(m_target);
    std::optional<mode_t> targetMode;
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return EISDIR;
        // A device node, pipe or socket was never a file to replace.
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
            return EEXIST;
        if (S_ISREG(st.st_mode))
            targetMode = st.st_mode & 07777;
    }
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : target.left(slash + 1);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QByteArray candidate = folder + QFile::encodeName(AFCPath::partialCopyName(m_partialMark));
        if (m_journal) {
            // Only a name the clean-up can act on is worth an entry; one it would refuse (a
            // relative path) is left to the copy's own removal.
            LeftoverJournal::Entry entry{LeftoverJournal::Kind::partialCopy, QString(), QString(),
                                         QFile::decodeName(candidate), QString()};
            if (LeftoverCleanup::isOwnEntry(entry)) {
                m_journal->begin(entry);
                m_entry = std::move(entry);
            }
        }
        const int fd = ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              targetMode ? 0600 : 0644);
        if (fd < 0) {
            const int error = errno;
            // Never made, or another's: nothing of this copy's is there.
            endEntry(true);
            if (error == EEXIST)
                continue;
            return error;
        }
        m_fd = fd;
        m_temporary = candidate;
        // A replacement is created private, then given the target's permissions: it is never
        // readable by others while it is written unless the target already was.
        if (targetMode && ::fchmod(fd, *targetMode) != 0)
            return errno;
        return 0;
    }
    return EEXIST;
}

int LocalReplacement::commit(bool* closeFailed) {
    *closeFailed = false;
    if (::close(std::exchange(m_fd, -1)) != 0) {
        *closeFailed = true;
        return errno;
    }
    const QByteArray target = QFile::encodeName(m_target);
    if (!m_replaceExisting) {
        if (const int error = renameWithoutReplacing(m_temporary, target); error != 0)
            return error;
    } else if (::rename(m_temporary.constData(), target.constData()) != 0) {
        return errno;
    }
    m_committed = true;
    return 0;
}
