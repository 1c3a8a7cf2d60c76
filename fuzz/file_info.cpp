// File facts as a device reports them. The input is what a device sends for one entry of a folder
// listing: the entry's name, then its reply to the file-information request, a run of
// NUL-terminated keys and values ("st_size", "st_ifmt", "st_mtime", ...). The library hands both
// over as NUL-terminated strings; the reader turns the pairs into facts and the builder turns the
// facts into the item the browser shows.

#include "FuzzSupport.h"
#include "device/AFCComponents.h"
#include "device/AFCDirectoryReader.h"
#include "device/AFCPath.h"
#include "platform/NaturalOrder.h"
#include "services/FileItemBuilder.h"

#include <vector>

namespace {

const QString udid = QStringLiteral("00008120-001C35A20E68201E");
const QString folder = QStringLiteral("/DCIM/100APPLE");
const QString bundleID = QStringLiteral("com.example.notes");

// The strings of a reply as the library splits it: each ends at a NUL, and bytes after the last
// NUL are no string.
std::vector<QByteArray> strings(const QByteArray& bytes) {
    std::vector<QByteArray> list;
    qsizetype start = 0;
    for (qsizetype end = bytes.indexOf('\0'); end >= 0; end = bytes.indexOf('\0', start)) {
        list.push_back(bytes.mid(start, end - start));
        start = end + 1;
    }
    return list;
}

int sign(int value) {
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<QByteArray> reply = strings(fuzzBytes(data, size));
    if (reply.empty())
        return 0;
    std::vector<const char*> pairs;
    for (std::size_t i = 1; i < reply.size(); ++i)
        pairs.push_back(reply[i].constData());
    pairs.push_back(nullptr);

    AFCFileInfo info = AFCDirectoryReader::fileInfoFromPairs(pairs.data());
    for (auto it = info.cbegin(); it != info.cend(); ++it)
        fuzzCheck(!it.key().isEmpty() && !it.value().isEmpty(), "a device fact has a key and a value");

    // As a listing joins the name onto its folder.
    const QString name = QString::fromUtf8(reply.front());
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return 0;
    const std::optional<QString> path = AFCPath::child(folder, name);
    if (!path)
        return 0;
    info.insert(QStringLiteral("Name"), name);
    info.insert(QStringLiteral("Path"), *path);

    FileItemBuilder builder;
    QList<FileItem> items;
    for (const std::optional<QString>& app : {std::optional<QString>(), std::optional<QString>(bundleID)}) {
        const AFCComponents at{udid, folder, app};
        const QList<FileItem> listed = builder.deviceListing({info}, at, true);
        fuzzCheck(listed.size() == (FileItemBuilder::isShown(name, true) ? 1 : 0),
                  "a shown entry gives an item");
        if (listed.isEmpty())
            continue;
        const FileItem& item = listed.front();
        fuzzCheck(item.name() == name && item.id() == item.path().absoluteString(),
                  "an item keeps the device's name and is known by its location");
        const std::optional<AFCComponents> components = afcComponents(item.path());
        fuzzCheck(components.has_value() && components->udid == udid && components->devicePath == *path &&
                      components->bundleID == app,
                  "an item's location leads back to the entry it was made of");
        fuzzCheck(URL::fromString(item.path().absoluteString()) == item.path(),
                  "an item's location parses back to itself");
        items.append(item);
        // As the provider describes one item it was asked for.
        items.append(builder.deviceItem(info, item.path(), name));
    }

    // Sorting trusts the name order to be consistent.
    for (const QString& other : {QStringLiteral("IMG_0001.JPG"), QStringLiteral("img_10.jpg"),
                                 QStringLiteral("IMG_0010.JPG"), QStringLiteral("Ärger 2"), name}) {
        fuzzCheck(sign(naturalCompare(name, other)) == -sign(naturalCompare(other, name)),
                  "names order the same way round");
        fuzzCheck((naturalCompare(name, other) == 0) == (name == other), "only identical names are equal");
    }
    FileItemBuilder::sort(items);
    return 0;
}
