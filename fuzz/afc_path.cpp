// Device names joined onto device folders: the one join helper, which must refuse any name that
// would take the joined path out of its folder. The input is a folder (up to the first line feed)
// and a name as a listing reports it (the rest).

#include "FuzzSupport.h"
#include "device/AFCPath.h"

#include <QDir>

namespace {

QString under(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzzBytes(data, size);
    const qsizetype lineFeed = bytes.indexOf('\n');
    if (lineFeed < 0)
        return 0;
    const QString folder = QString::fromUtf8(bytes.left(lineFeed));
    const QString name = QString::fromUtf8(bytes.mid(lineFeed + 1));

    (void)AFCPath::lastComponent(folder);
    (void)AFCPath::parent(folder);
    (void)AFCPath::isPartialCopyName(name);

    const std::optional<QString> joined = AFCPath::child(folder, name);
    fuzzCheck(joined.has_value() == AFCPath::isSafeName(name), "exactly the safe names are joined");
    if (!joined)
        return 0;
    fuzzCheck(AFCPath::isUsable(*joined) == AFCPath::isUsable(folder), "a joined name adds no NUL");
    fuzzCheck(AFCPath::lastComponent(*joined) == name, "a joined name is the last component");
    // Once "." and ".." are resolved, the joined path is the name directly inside the folder.
    if (folder.startsWith(QLatin1Char('/'))) {
        fuzzCheck(QDir::cleanPath(*joined) == under(QDir::cleanPath(folder), name),
                  "a joined name never leaves its folder");
    }
    return 0;
}
