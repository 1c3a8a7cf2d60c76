#include "device/AFCLeftovers.h"

#include "device/AFCDirectoryReader.h"
#include "device/AFCError.h"
#include "device/AFCItemOperations.h"
#include "platform/Logger.h"

#include <libimobiledevice/afc.h>

namespace {

bool isFolder(afc_client_t afc, const QString& path) {
    return AFCDirectoryReader::fileInfo(afc, path).value(QStringLiteral("st_ifmt")) ==
           QLatin1String("S_IFDIR");
}

// Whether something answers to path; a refusal other than "not found" counts as taken, so that
// nothing is put back over an item the device would not describe.
bool exists(afc_client_t afc, const QString& path) {
    const afc_error_t result = AFCItemOperations::lookUp(afc, path);
    if (result == AFC_E_OBJECT_NOT_FOUND)
        return false;
    if (AFCError::meansLostConnection(result))
        throw AFCError::fromLibrary(AFCError::Case::fileInfoFailed, "afc_get_file_info", result);
    return true;
}

} // namespace

AFCLeftovers::AFCLeftovers(std::shared_ptr<LeftoverJournal> journal, QString udid,
                           std::optional<QString> bundleID)
    : m_journal(std::move(journal)), m_udid(std::move(udid)), m_bundleID(bundleID.value_or(QString())) {}

LeftoverJournal::Entry AFCLeftovers::partialCopy(const QString& path) const {
    return {LeftoverJournal::Kind::partialCopy, m_udid, m_bundleID, path, QString()};
}

LeftoverJournal::Entry AFCLeftovers::asideItem(const QString& path, const QString& originalPath) const {
    return {LeftoverJournal::Kind::asideItem, m_udid, m_bundleID, path, originalPath};
}

void AFCLeftovers::recover(afc_client_t afc) const {
    for (const LeftoverJournal::Entry& entry : m_journal->leftovers(m_udid, m_bundleID)) {
        try {
            recoverEntry(afc, entry);
            m_journal->finished(entry);
        } catch (const AFCError& error) {
            if (error.isConnectionLost()) {
                Logger::bridge().error("Leftover clean-up stopped, the device went away: %s",
                                       error.description());
                return;
            }
            Logger::bridge().error("Could not clean up %s: %s", entry.path, error.description());
        }
    }
}

void AFCLeftovers::recoverEntry(afc_client_t afc, const LeftoverJournal::Entry& entry) const {
    // The device has no rename that refuses a taken name: it is looked at first.
    const LeftoverJournal::Place device{[afc](const QString& path) { return exists(afc, path); },
                                        [afc](const QString& from, const QString& to) {
                                            if (exists(afc, to))
                                                return false;
                                            AFCItemOperations::renameItem(afc, from, to);
                                            return true;
                                        },
                                        [afc](const QString& path) {
                                            if (isFolder(afc, path))
                                                AFCItemOperations::removeRecursively(afc, path);
                                            else
                                                AFCItemOperations::removeItem(afc, path);
                                        }};
    LeftoverJournal::settle(entry, device);
}
