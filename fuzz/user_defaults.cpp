// The settings file: the property-list store that also holds the favourites, the history, the
// recent folders and the archived folder locations. The input is the whole file as another
// program, a crash or a full disk may have left it.

#include "FuzzSupport.h"
#include "platform/ArchivedURL.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "services/FavoritesManager.h"
#include "services/NavigationState.h"

#include <QDir>
#include <QFile>

#include <chrono>
#include <cmath>

namespace {

// QVariant's own comparison calls a NaN unequal to itself, and a plist may well hold one.
bool sameValue(const QVariant& a, const QVariant& b) {
    if (a.typeId() != b.typeId())
        return false;
    switch (a.typeId()) {
    case QMetaType::Double: {
        const double x = a.toDouble();
        const double y = b.toDouble();
        return (std::isnan(x) && std::isnan(y)) || x == y;
    }
    case QMetaType::QVariantList: {
        const QVariantList x = a.toList();
        const QVariantList y = b.toList();
        if (x.size() != y.size())
            return false;
        for (qsizetype i = 0; i < x.size(); ++i)
            if (!sameValue(x[i], y[i]))
                return false;
        return true;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap x = a.toMap();
        const QVariantMap y = b.toMap();
        if (x.keys() != y.keys())
            return false;
        for (auto it = x.cbegin(); it != x.cend(); ++it)
            if (!sameValue(it.value(), y.value(it.key())))
                return false;
        return true;
    }
    default:
        return a == b;
    }
}

// Everything the app reads from the store, the way it reads it.
void readEverything(UserDefaults& defaults) {
    for (const QString& key : defaults.keys()) {
        (void)defaults.object(key);
        (void)defaults.boolForKey(key);
        (void)defaults.integerForKey(key);
        (void)defaults.arrayForKey(key);
        (void)defaults.stringForKey(key);
        if (const std::optional<QByteArray> data = defaults.dataForKey(key))
            (void)unarchiveURL(*data);
    }
    const NavigationState navigation(defaults);
    const FavoritesManager favorites(QString(FavoritesManager::defaultKey), defaults);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString folder = fuzzScratchFolder();
    const QString path = folder + QStringLiteral("/defaults.plist");
    {
        QFile file(path);
        fuzzCheck(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                      file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size),
                  "the scratch file can be written");
    }

    QStringList keys;
    QVariantMap values;
    {
        UserDefaults defaults(path, std::chrono::milliseconds(0));
        readEverything(defaults);
        keys = defaults.keys();
        for (const QString& key : keys)
            if (const std::optional<QVariant> value = defaults.object(key))
                values.insert(key, *value);
        // A file that loaded is saved again by the next change: it must keep everything it held,
        // the values of types the store does not read included.
        if (QFile::exists(path)) {
            defaults.set(QStringLiteral("fuzz.marker"), true);
            defaults.remove(QStringLiteral("fuzz.marker"));
            defaults.flush();
        }
    }
    if (QFile::exists(path)) {
        UserDefaults reloaded(path, std::chrono::milliseconds(0));
        fuzzCheck(reloaded.keys() == keys, "a saved settings file keeps every key");
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            const std::optional<QVariant> value = reloaded.object(it.key());
            fuzzCheck(value.has_value() && sameValue(*value, it.value()),
                      "a saved settings file keeps every value");
        }
    }

    // A damaged file is moved aside; the next input starts from nothing.
    QDir scratch(folder);
    for (const QString& entry : scratch.entryList(QDir::Files | QDir::Hidden | QDir::System))
        scratch.remove(entry);
    return 0;
}
