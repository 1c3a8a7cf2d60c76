// The recent folders: a list of location texts kept under "OrvantaRecentPaths" in the settings.
// The input is the property list stored under that key, in whatever shape another program or a
// damaged file left it.

#include "FuzzSupport.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "services/NavigationState.h"

#include <chrono>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A store that never writes, as in the favourites target.
    static UserDefaults& defaults =
        *new UserDefaults(QStringLiteral("/nonexistent/orvanta-fuzz/defaults.plist"), std::chrono::hours(24));
    const QString key(NavigationState::recentPathsKey);
    const std::optional<QVariant> stored = PropertyList::fromData(fuzzBytes(data, size));
    if (stored)
        defaults.set(key, *stored);
    else
        defaults.remove(key);

    NavigationState navigation(defaults);
    for (const URL& url : navigation.recentPaths.value())
        fuzzCheck(URL::fromString(url.absoluteString()) == url, "a recent folder parses back to itself");

    // Visiting a folder stores the list again, cut to its length.
    const URL visited = URL::fileURL(QStringLiteral("/home/ada/Pictures"), true);
    navigation.addRecentPath(visited);
    const QList<URL>& recent = navigation.recentPaths.value();
    fuzzCheck(!recent.isEmpty() && recent.front() == visited &&
                  recent.size() <= NavigationState::maximumRecentPaths,
              "a visited folder leads the recent folders");
    const std::optional<QVariantList> saved = defaults.arrayForKey(key);
    fuzzCheck(saved.has_value() && saved->size() == recent.size(), "the recent folders are stored");
    return 0;
}
