#include "services/FileItemBuilder.h"

#include "device/AFCLocation.h"
#include "device/AFCPath.h"
#include "platform/NaturalOrder.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <vector>

namespace {

const QString nameKey = QStringLiteral("Name");
const QString pathKey = QStringLiteral("Path");
const QString typeKey = QStringLiteral("st_ifmt");
const QString sizeKey = QStringLiteral("st_size");
const QString modifiedKey = QStringLiteral("st_mtime");
const QString directoryType = QStringLiteral("S_IFDIR");

} // namespace

const FileItemBuilder::Type& FileItemBuilder::typeOf(const QString& extension) {
    auto found = m_types.constFind(extension);
    if (found == m_types.constEnd()) {
        std::optional<UniformType> uti = UniformType::forFilenameExtension(extension);
        const FileKind kind = FileKind::fromUTI(uti);
        found = m_types.insert(extension, Type{std::move(uti), kind});
    }
    return *found;
}

FileItem FileItemBuilder::localItem(const URL& url, const QString& filePath, const QString& name,
                                    const LocalFacts& facts) {
    QString id = filePath;
    while (id.size() > 1 && id.endsWith(QLatin1Char('/')))
        id.chop(1);
    // Folders get the type of their extension too (a "Tools.app" folder), but stay folders.
    const Type& type = typeOf(extensionOf(name));
    return FileItem(std::move(id), name, url, facts.isDirectory, facts.isDirectory ? 0 : facts.size,
                    facts.modifiedDate, facts.isDirectory ? FileKind::folder : type.kind, type.uti);
}

FileItem FileItemBuilder::deviceItem(const AFCFileInfo& info, URL url, QString name) {
    return deviceItem(DeviceFacts::of(info), std::move(url), std::move(name));
}

FileItem FileItemBuilder::deviceItem(const DeviceFacts& facts, URL url, QString name) {
    const quint64 size = facts.size ? unsignedNumber(*facts.size).value_or(0) : 0;
    const Date date = facts.modified ? dateFromAFCTime(*facts.modified) : Date::distantPast();
    QString id = url.absoluteString();
    if (facts.isDirectory)
        return FileItem(std::move(id), std::move(name), std::move(url), true, size, date, FileKind::folder,
                        std::nullopt);
    const Type& type = typeOf(extensionOf(name));
    return FileItem(std::move(id), std::move(name), std::move(url), false, size, date, type.kind, type.uti);
}

FileItemBuilder::DeviceFacts FileItemBuilder::DeviceFacts::of(const AFCFileInfo& info) {
    // One pass over the few pairs of an entry: a listing of thousands of files pays for every
    // lookup thousands of times.
    DeviceFacts facts;
    for (auto pair = info.constBegin(); pair != info.constEnd(); ++pair) {
        const QString& key = pair.key();
        if (key == nameKey)
            facts.name = &pair.value();
        else if (key == pathKey)
            facts.path = &pair.value();
        else if (key == typeKey)
            facts.isDirectory = pair.value() == directoryType;
        else if (key == sizeKey)
            facts.size = &pair.value();
        else if (key == modifiedKey)
            facts.modified = &pair.value();
    }
    return facts;
}

QList<FileItem> FileItemBuilder::deviceListing(const QList<AFCFileInfo>& entries, const AFCComponents& folder,
                                               bool showHidden) {
    const URL folderURL = folder.bundleID
                              ? AFCLocation::containerURL(folder.udid, *folder.bundleID, folder.devicePath)
                              : AFCLocation::mediaURL(folder.udid, folder.devicePath);
    const QString prefix = folder.devicePath.endsWith(QLatin1Char('/'))
                               ? folder.devicePath
                               : folder.devicePath + QLatin1Char('/');
    QList<FileItem> items;
    items.reserve(entries.size());
    for (const AFCFileInfo& entry : entries) {
        const DeviceFacts facts = DeviceFacts::of(entry);
        if (!facts.name || !facts.path || !isShown(*facts.name, showHidden))
            continue;
        const QString& name = *facts.name;
        const QString& path = *facts.path;
        // Assembled from parts, so the URL text is percent-encoded where a name needs it. An entry
        // right inside the folder, as every entry of a listing is, only needs its name encoded.
        const bool inFolder =
            path.size() == prefix.size() + name.size() && path.startsWith(prefix) && path.endsWith(name);
        URL url = inFolder          ? folderURL.appendingPathComponent(name)
                  : folder.bundleID ? AFCLocation::containerURL(folder.udid, *folder.bundleID, path)
                                    : AFCLocation::mediaURL(folder.udid, path);
        // The item keeps a name of its own, not the reader's: the reader's strings lie among the
        // memory of a whole folder's reading, and each one kept would keep its piece of that
        // memory from going back to the system.
        items.append(deviceItem(facts, std::move(url), QString(name.constData(), name.size())));
    }
    sort(items);
    return items;
}

void FileItemBuilder::sort(QList<FileItem>& items) {
    // Sorted by position, then put in place once: moving whole items at every step of the sort
    // would cost more than comparing their names.
    std::vector<qsizetype> order(items.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&items](qsizetype a, qsizetype b) {
        const FileItem& first = items.at(a);
        const FileItem& second = items.at(b);
        if (first.isDirectory() != second.isDirectory())
            return first.isDirectory();
        return naturalCompare(first.name(), second.name()) < 0;
    });
    QList<FileItem> sorted;
    sorted.reserve(items.size());
    for (const qsizetype index : order)
        sorted.append(std::move(items[index]));
    items = std::move(sorted);
}

bool FileItemBuilder::isShown(const QString& name, bool showHidden) {
    // Checked first: a copy in progress is hidden by its name, but is never the user's file.
    if (AFCPath::isLeftoverName(name))
        return false;
    return showHidden || !name.startsWith(QLatin1Char('.'));
}

QString FileItemBuilder::extensionOf(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == name.size() - 1)
        return {};
    return name.mid(dot + 1);
}

std::optional<quint64> FileItemBuilder::unsignedNumber(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == u'+' || text[0] == u'-')) {
        negative = text[0] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    quint64 value = 0;
    constexpr quint64 max = std::numeric_limits<quint64>::max();
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const quint64 digit = c - u'0';
        if (value > (max - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    if (negative && value != 0)
        return std::nullopt;
    return value;
}

Date FileItemBuilder::dateFromAFCTime(const std::optional<QString>& text) {
    const std::optional<quint64> nanoseconds = text ? unsignedNumber(*text) : std::nullopt;
    if (!nanoseconds)
        return Date::distantPast();
    return Date::fromSecondsSince1970(static_cast<double>(*nanoseconds) / 1e9);
}
