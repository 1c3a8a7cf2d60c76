#pragma once

#include "device/AFCComponents.h"
#include "device/AFCFileInfo.h"
#include "models/FileItem.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// The facts of one item on this computer, as the listing reads them (a link is described itself,
// never followed).
struct LocalFacts {
    bool isDirectory = false;
    quint64 size = 0; // 0 for a folder
    Date modifiedDate;
};

// Builds the provider's FileItems from what the file system or a device reports. A listing of
// thousands of files meets only a handful of extensions, and classifying one asks the MIME
// database a dozen questions, so one builder per listing remembers each extension's answer.
class FileItemBuilder {
public:
    // An item of this computer: id is the file-system path without a trailing "/", path the URL.
    FileItem localItem(const URL& url, const QString& filePath, const QString& name, const LocalFacts& facts);
    // An item from a device's facts, for the given location; name is the item's own name.
    FileItem deviceItem(const AFCFileInfo& info, URL url, QString name);
    // The items of a device folder's listing entries, sorted. An entry lacking "Name" or "Path"
    // is left out, and so is one that is not shown. Each item's location is built from the
    // entry's "Path", inside the app's container when the folder lies in one.
    QList<FileItem> deviceListing(const QList<AFCFileInfo>& entries, const AFCComponents& folder,
                                  bool showHidden);

    // Folders first, then by name as a file browser orders them; items that compare equal keep
    // their order.
    static void sort(QList<FileItem>& items);
    // Whether a listed name is shown: a copy in progress never is, a hidden (leading dot) name
    // only when showHidden.
    static bool isShown(const QString& name, bool showHidden);
    // The part after the last ".", by the same rule as URL::pathExtension (a leading dot marks a
    // hidden name, not an extension).
    static QString extensionOf(const QString& name);
    // A device's decimal text: digits, optionally after "+" (or "-" when the value is zero), that
    // fit in 64 bits; nothing for anything else.
    static std::optional<quint64> unsignedNumber(const QString& text);
    // A device's "st_mtime" (nanoseconds since 1970); the distant past when absent or unreadable.
    static Date dateFromAFCTime(const std::optional<QString>& text);

private:
    // The pairs an item is built from; pointers into the entry, which outlives them.
    struct DeviceFacts {
        const QString* name = nullptr;
        const QString* path = nullptr;
        bool isDirectory = false;
        const QString* size = nullptr;
        const QString* modified = nullptr;

        static DeviceFacts of(const AFCFileInfo& info);
    };
    FileItem deviceItem(const DeviceFacts& facts, URL url, QString name);

    struct Type {
        std::optional<UniformType> uti;
        FileKind kind;
    };
    const Type& typeOf(const QString& extension);

    QHash<QString, Type> m_types;
};
