#include "device/AFCLeftovers.h"

#include "device/AFCDirectoryReader.h"
#include "device/AFCError.h"
#include "device/AFCItemOperations.h"
#include "device/AFCPath.h"
#include "device/LeftoverCleanup.h"
#include "platform/Logger.h"

#include <libimobiledevice/afc.h>

namespace {

using Presence = LeftoverCleanup::Presence;

// Only "not found" means absent; a lost connection ends the clean-up; any other refusal says
// nothing either way, and nothing is done on it.
Presence lookUp(afc_client_t afc, const QString& path) {
    const afc_error_t result = AFCItemOperations::lookUp(afc, path);
    if (result == AFC_E_SUCCESS)
        return Presence::present;
    if (result == AFC_E_OBJECT_NOT_FOUND)
        return Presence::absent;
    if (AFCError::meansLostConnection(result))
        throw AFCError::fromLibrary(AFCError::Case::fileInfoFailed, "afc_get_file_info", result);
    return Presence::unknown;
}

bool isFolder(afc_client_t afc, const QString& path) {
    return AFCDirectoryReader::fileInfo(afc, path).value(QStringLiteral("st_ifmt")) ==
           QLatin1String("S_IFDIR");
}

LeftoverCleanup::Place devicePlace(afc_client_t afc) {
    // The device has no rename that refuses a taken name: a link, or a look first.
    return {[afc](const QString& path) { return lookUp(afc, path); },
            [afc](const QString& folder) -> std::optional<QStringList> {
                try {
                    return AFCDirectoryReader::listNames(afc, folder);
                } catch (const AFCError& error) {
                    if (error.isConnectionLost())
                        throw;
                    return std::nullopt;
                }
            },
            [afc](const QString& from, const QString& to) {
                return AFCItemOperations::putBack(afc, from, to) != AFCPutBack::taken;
            },
            [afc](const QString& path) {
                if (isFolder(afc, path))
                    AFCItemOperations::removeTree(afc, path);
                else
                    AFCItemOperations::removeItem(afc, path);
            }};
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

bool AFCLeftovers::settle(afc_client_t afc, const LeftoverJournal::Entry& entry) const {
    return LeftoverCleanup::settle(entry, devicePlace(afc));
}

void AFCLeftovers::recover(afc_client_t afc) const {
    const LeftoverCleanup::Place device = devicePlace(afc);
    for (const LeftoverJournal::Entry& entry : m_journal->leftovers(m_udid, m_bundleID)) {
        try {
            if (LeftoverCleanup::settle(entry, device))
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
