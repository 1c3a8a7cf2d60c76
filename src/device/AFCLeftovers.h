#pragma once

#include "device/AFCClientHandle.h"
#include "device/LeftoverJournal.h"

#include <QString>

#include <memory>
#include <optional>

// The journal of what copies leave behind, seen from one place on one device: a device's media
// area or one app's container. Copies write their hidden items down through it before they make
// them; a session that opens deals with what earlier copies of the place left. Executor only.
class AFCLeftovers {
public:
    AFCLeftovers(std::shared_ptr<LeftoverJournal> journal, QString udid, std::optional<QString> bundleID);

    LeftoverJournal& journal() const { return *m_journal; }
    // The entry of a partial copy at path, or of an item set aside at path from originalPath.
    LeftoverJournal::Entry partialCopy(const QString& path) const;
    LeftoverJournal::Entry asideItem(const QString& path, const QString& originalPath) const;

    // Settles each leftover of this place by LeftoverCleanup's rule. Entries dealt with are
    // struck out; one that could not be is kept for the next session. A lost connection ends the
    // clean-up and leaves the rest; running copies' entries are never handed out by the journal.
    void recover(afc_client_t afc) const;
    // Settles one entry of this place now, by the same rule, as a copy that ended short does
    // with what it left; true when nothing is left to do, so that the entry may be struck. Throws
    // what the device answers (a lost connection among them); the entry stays then.
    bool settle(afc_client_t afc, const LeftoverJournal::Entry& entry) const;

private:

    std::shared_ptr<LeftoverJournal> m_journal;
    QString m_udid;
    QString m_bundleID;
};
