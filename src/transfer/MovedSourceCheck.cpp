#include "transfer/MovedSourceCheck.h"

#include "device/AFCBridge.h"
#include "device/AFCComponents.h"
#include "models/TransferError.h"
#include "platform/Error.h"
#include "services/FileItemBuilder.h"
#include "transfer/TransferPlacement.h"

#include <QFile>

#include <sys/stat.h>

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

std::optional<QString> MovedSourceCheck::difference(const FileIdentity& copied, const FileIdentity& now) {
    if (!copied.isSameFile(now))
        return QStringLiteral("another file has its name");
    if (copied.size != now.size)
        return QStringLiteral("its size");
    if (copied.modifiedSeconds != now.modifiedSeconds ||
        copied.modifiedNanoseconds != now.modifiedNanoseconds)
        return QStringLiteral("its modification date");
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

async::Task<void> MovedSourceCheck::ensureUnchanged(std::shared_ptr<TransferPlacement> placement, URL url,
                                                    Copied copied, QString shownName) {
    std::optional<QString> difference;
    if (isDevice(url)) {
        const AFCComponents parts =
            TransferPlacement::deviceComponents(url, QStringLiteral("Invalid afc URL: "));
        if (!placement->bridge())
            throw TransferError::ioError(QStringLiteral("AFC bridge not available"));
        async::Task<AFCFileInfo> asking =
            placement->bridge()->fileInfo(parts.udid, parts.devicePath, parts.bundleID);
        const AFCFileInfo info = co_await asking;
        if (info.value(QStringLiteral("st_ifmt")) != QLatin1String("S_IFREG"))
            difference = QStringLiteral("it is no longer a file");
        else
            difference = MovedSourceCheck::difference(
                copied, FileItemBuilder::unsignedNumber(info.value(QStringLiteral("st_size"))).value_or(0),
                FileItemBuilder::dateFromAFCTime(info.value(QStringLiteral("st_mtime"))));
    } else {
        // Links followed, as the copy's open followed them.
        async::Task<FileIdentity> looking = placement->executor().run([path = url.toLocalFile()] {
            struct stat facts {};
            if (::stat(QFile::encodeName(path).constData(), &facts) != 0)
                throw FileError::fromErrno(QStringLiteral("read"), path);
            return FileIdentity::of(facts);
        });
        const FileIdentity now = co_await looking;
        difference = copied.local ? MovedSourceCheck::difference(*copied.local, now) : nothingKnown;
    }
    if (difference)
        throw changed(shownName, *difference);
}
