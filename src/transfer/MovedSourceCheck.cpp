#include "transfer/MovedSourceCheck.h"

#include "device/AFCBridge.h"
#include "device/AFCComponents.h"
#include "models/TransferError.h"
#include "platform/Error.h"
#include "services/FileItemBuilder.h"
#include "transfer/TransferPlacement.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isDevice(const URL& url) {
    return url.scheme() == QLatin1String("afc");
}

TransferError changed(const QString& shownName, const QString& what) {
    return TransferError::ioError(
        QStringLiteral("%1 changed after its copy (%2); it is kept").arg(shownName, what));
}

const QString nothingKnown = QStringLiteral("nothing is known of what was copied");

} // namespace

std::optional<QString> MovedSourceCheck::difference(const FileIdentity& copied, const FileIdentity& now,
                                                    bool numbersLast) {
    if (copied.device != now.device || (numbersLast && copied.inode != now.inode))
        return QStringLiteral("another file has its name");
    if (copied.size != now.size)
        return QStringLiteral("its size");
    if (copied.modifiedSeconds != now.modifiedSeconds ||
        copied.modifiedNanoseconds != now.modifiedNanoseconds)
        return QStringLiteral("its modification date");
    if (numbersLast &&
        (copied.changedSeconds != now.changedSeconds || copied.changedNanoseconds != now.changedNanoseconds))
        return QStringLiteral("its change time");
    return std::nullopt;
}

std::optional<QString> MovedSourceCheck::difference(const Copied& copied, quint64 size,
                                                    const Date& modified) {
    // A copy that recorded nothing of what it read cannot show that this is what it read.
    if (!copied.size || !copied.modified)
        return nothingKnown;
    if (*copied.size != size)
        return QStringLiteral("its size");
    if (*copied.modified != modified)
        return QStringLiteral("its modification date");
    return std::nullopt;
}

async::Task<void> MovedSourceCheck::removeUnchanged(std::shared_ptr<TransferPlacement> placement, URL url,
                                                    Copied copied, QString shownName,
                                                    NumbersKept numbersKept) {
    std::optional<QString> difference;
    if (isDevice(url)) {
        const AFCComponents parts =
            TransferPlacement::deviceComponents(url, QStringLiteral("Invalid afc URL: "));
        if (!placement->bridge())
            throw TransferError::ioError(QStringLiteral("AFC bridge not available"));
        std::function<std::optional<QString>(const AFCFileInfo&)> objection =
            [copied](const AFCFileInfo& info) -> std::optional<QString> {
            if (info.value(QStringLiteral("st_ifmt")) != QLatin1String("S_IFREG"))
                return QStringLiteral("it is no longer a file");
            return MovedSourceCheck::difference(
                copied, FileItemBuilder::unsignedNumber(info.value(QStringLiteral("st_size"))).value_or(0),
                FileItemBuilder::dateFromAFCTime(info.value(QStringLiteral("st_mtime"))));
        };
        async::Task<std::optional<QString>> removing = placement->bridge()->removeFileUnless(
            parts.udid, parts.devicePath, parts.bundleID, std::move(objection));
        difference = co_await removing;
    } else if (!copied.local) {
        difference = nothingKnown;
    } else {
        async::Task<std::optional<QString>> removing =
            placement->executor().run([path = url.toLocalFile(), copied = *copied.local, numbersKept] {
                const QByteArray native = QFile::encodeName(path);
                // Links followed, as the copy's open followed them.
                struct stat facts {};
                if (::stat(native.constData(), &facts) != 0)
                    throw FileError::fromErrno(QStringLiteral("read"), path);
                const FileIdentity now = FileIdentity::of(facts);
                // The file system is asked only when the number or the change time moved, and once
                // a move: a FUSE file system answers through its daemon.
                bool numbersLast = true;
                if (!copied.sameNumberAndChange(now)) {
                    const auto known = numbersKept->constFind(now.device);
                    numbersLast = known != numbersKept->cend()
                                      ? *known
                                      : *numbersKept->insert(now.device,
                                                             FileIdentity::numbersLastOn(native.constData()));
                }
                std::optional<QString> reason = MovedSourceCheck::difference(copied, now, numbersLast);
                if (!reason && ::unlinkat(AT_FDCWD, native.constData(), 0) != 0)
                    throw FileError::fromErrno(QStringLiteral("delete"), path);
                return reason;
            });
        difference = co_await removing;
    }
    if (difference)
        throw changed(shownName, *difference);
}
