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
    // The folder that holds path ("/" for an item at the root).
    static QString parent(const QString& path);

    // Whether a path (device or local) or an identifier can be handed to a C library: every such
    // call ends the text at the first NUL, so "/Empty\0/file.txt" would silently mean "/Empty".
    static bool isUsable(const QString& text) { return !text.contains(QChar(u'\0')); }

    // A fresh name for a copy in progress: hidden (leading dot) and recognisable, so that a copy
    // writes beside its target and only a complete file ever takes the target's name. With a
    // mark (partialCopyMark) the name carries it: a transfer marks every partial copy it makes,
    // so that the clean-up of a folder it made takes its own and never another copy's.
    static QString partialCopyName(const QString& mark = QString());
    // A fresh mark of one transfer's partial copies (eight hex digits).
    static QString partialCopyMark();
    static bool isPartialCopyMark(const QString& text);
    // Whether a listed name is such a copy in progress (or one left by a copy that was cut off).
    static bool isPartialCopyName(const QString& name);
    // A fresh hidden name for an item set aside while its replacement is made: it keeps the old
    // item, under this name in the same folder, until the new one is whole.
    static QString asideName();
    static bool isAsideName(const QString& name);
    // Either of the two: what a copy keeps hidden and no listing shows.
    static bool isLeftoverName(const QString& name) { return isPartialCopyName(name) || isAsideName(name); }
    // Exactly the shape this program gives those names (prefix, a mark or none, and sixteen hex
    // digits): the clean-up after a crash touches nothing else, whatever a damaged journal says.
    static bool isMadePartialCopyName(const QString& name);
    // Such a name with exactly that mark; with none, one that carries no mark.
    static bool isMadePartialCopyName(const QString& name, const QString& mark);
    static bool isMadeAsideName(const QString& name);

    // The name a " copy" of base.ext gets: "base copy.ext", then "base copy 2.ext", ... (number 1
    // means the first, unnumbered one). Without an extension no dot follows. A name whose UTF-8
    // form would be longer than limitBytes loses whole characters at the end of base until it fits.
    static QString copyName(const QString& base, const QString& extension, int number, int limitBytes = 255);
    // The " copy" name of name itself: its extension is what follows its last dot, unless that dot
    // leads the name or ends it.
    static QString copyNameOf(const QString& name, int number, int limitBytes = 255);

    AFCPath() = delete;
};
