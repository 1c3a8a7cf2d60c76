#pragma once

#include "device/LeftoverJournal.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The local side of a download: a new file written under a temporary name beside its target, that
// takes the target's name only once it is complete and closed without error. Until then the
// target, when there is one, is untouched; a copy that fails or is cancelled removes only the
// temporary file, so the target ends as either the whole new file or the old one.
//
// The temporary file is created exclusively and never through a symbolic link, so nothing planted
// at that name is written through; renaming over a link replaces the link, never what it points
// at. Executor only; errors are errno values for the caller to word.
//
// Given a journal of leftovers, the temporary file is written down there before it exists and
// struck out once it is gone or has the target's name: a process killed in the middle of the copy
// leaves it to the next start's clean-up, never for good. A file it could not remove stays in the
// journal as a leftover.
class LocalReplacement {
public:
    // With replaceExisting false the copy never takes the place of anything: commit() then fails
    // with EEXIST when the name is taken (also by a name that differs only in case on a file
    // system that folds case), and the item there stays. The temporary file's name carries
    // partialMark (see AFCPath::partialCopyName).
    explicit LocalReplacement(QString target, bool replaceExisting = true, QString partialMark = QString(),
                              LeftoverJournal* journal = nullptr);
    // Removes the temporary file unless it was committed.
    ~LocalReplacement();
    LocalReplacement(const LocalReplacement&) = delete;
    LocalReplacement& operator=(const LocalReplacement&) = delete;

    // Creates the temporary file; 0, or the errno that stopped it. An existing target must be a
    // regular file or a link (EISDIR for a folder, EEXIST for a device node, pipe or socket); a
    // regular one lends its permissions to the new file, which keeps them once it replaces it.
    int open();
    int fd() const { return m_fd; }
    // Closes the temporary file and renames it over the target. 0, or the errno of the close
    // (set in *closeFailed) or of the rename.
    int commit(bool* closeFailed);

private:
    // Strikes the temporary file's entry out (gone), or leaves it for the clean-up (not).
    void endEntry(bool gone);

    QString m_target;
    bool m_replaceExisting = true;
    QString m_partialMark;
    QByteArray m_temporary;
    int m_fd = -1;
    bool m_committed = false;
    LeftoverJournal* m_journal = nullptr;
    std::optional<LeftoverJournal::Entry> m_entry;
};
