#pragma once

#include <QString>

#include <optional>

// Joins names that a device reports onto device folders. A device, and even more an app's
// container, is not trusted to name its files safely: a name that is empty, "." or "..", or that
// holds "/" or NUL could make a later operation reach outside the folder it was listed in, so
// every join goes through here and such names are refused.
class AFCPath {
public:
    static bool isSafeName(const QString& name);
    // folder + "/" + name, with a single slash below the root; nothing for an unsafe name.
    static std::optional<QString> child(const QString& folder, const QString& name);
    // The last component of an absolute device path ("/" for the root itself).
    static QString lastComponent(const QString& path);

    AFCPath() = delete;
};
