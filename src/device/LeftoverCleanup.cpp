#include "device/LeftoverCleanup.h"

#include "device/AFCPath.h"
#include "platform/Logger.h"

namespace {

using Kind = LeftoverJournal::Kind;
using Presence = LeftoverCleanup::Presence;
using Decision = LeftoverCleanup::Decision;
using Action = LeftoverCleanup::Action;

// "/a/b": absolute, no empty, "." or ".." step, no NUL, not the root itself.
bool isPlainPath(const QString& path) {
    if (path.size() < 2 || !path.startsWith(QLatin1Char('/')) || !AFCPath::isUsable(path))
        return false;
    const QStringList steps = path.mid(1).split(QLatin1Char('/'));
    return std::all_of(steps.begin(), steps.end(), [](const QString& step) { return AFCPath::isSafeName(step); });
}

bool isBeside(const QString& path, const QString& other) {
    return isPlainPath(other) && AFCPath::parent(other) == AFCPath::parent(path);
}

Decision keep() {
    return {};
}

Decision forget() {
    return {Action::forget, {}, {}};
}

// The hidden item is not there: settled, unless its folder is missing too (a disk not mounted, a
// folder renamed meanwhile) or is not provably the one it was in (the mount point of a disk not
// mounted, another disk in its drive, a folder bound over it), when nothing can be told.
Decision whenAbsent(const LeftoverJournal::Entry& entry, const LeftoverCleanup::Place& place) {
    const QString folder = AFCPath::parent(entry.path);
    if (place.lookUp(folder) != Presence::present)
        return keep();
    if (place.isRecordedFolder && !place.isRecordedFolder(folder, entry))
        return keep();
    return forget();
}

Decision forNewFolder(const LeftoverJournal::Entry& entry, const LeftoverCleanup::Place& place) {
    const Presence folder = place.lookUp(entry.path);
    if (folder == Presence::unknown)
        return keep();
    if (folder == Presence::absent)
        return whenAbsent(entry, place);
    const std::optional<QStringList> names = place.children(entry.path);
    if (!names)
        return keep();
    Decision decision{Action::remove, {}, {}};
    // Only its own transfer's: another copy may be writing into the folder now.
    for (const QString& name : *names) {
        if (AFCPath::isMadePartialCopyName(name, entry.mark))
            decision.paths.append(*AFCPath::child(entry.path, name));
    }
    return decision.paths.isEmpty() ? forget() : decision;
}

Decision forAside(const LeftoverJournal::Entry& entry, const LeftoverCleanup::Place& place) {
    if (entry.replaced)
        return {Action::remove, {entry.path}, {}};
    const QString folder = AFCPath::parent(entry.originalPath);
    const QString name = AFCPath::lastComponent(entry.originalPath);
    for (int number = 0; number <= LeftoverCleanup::mostCopyNames; ++number) {
        const QString candidate = number == 0 ? entry.originalPath
                                              : AFCPath::child(folder, AFCPath::copyNameOf(name, number)).value_or(QString());
        if (candidate.isEmpty())
            return keep();
        const Presence taken = place.lookUp(candidate);
        if (taken == Presence::unknown)
            return keep();
        if (taken == Presence::absent)
            return {Action::putBack, {entry.path}, candidate};
    }
    return keep();
}

} // namespace

bool LeftoverCleanup::isOwnEntry(const Entry& entry) {
    if (!isPlainPath(entry.path) || !AFCPath::isUsable(entry.udid) || !AFCPath::isUsable(entry.bundleID))
        return false;
    // Only a new folder's clean-up goes by a mark.
    if (!entry.mark.isEmpty() && (entry.kind != Kind::newFolder || !AFCPath::isPartialCopyMark(entry.mark)))
        return false;
    const QString name = AFCPath::lastComponent(entry.path);
    switch (entry.kind) {
    case Kind::partialCopy:
        return AFCPath::isMadePartialCopyName(name) &&
               (entry.originalPath.isEmpty() || isBeside(entry.path, entry.originalPath));
    case Kind::asideItem:
        return AFCPath::isMadeAsideName(name) && isBeside(entry.path, entry.originalPath);
    case Kind::newFolder:
        return entry.originalPath.isEmpty() && !AFCPath::isLeftoverName(name);
    }
    return false;
}

LeftoverCleanup::Decision LeftoverCleanup::decide(const Entry& entry, const Place& place) {
    if (!isOwnEntry(entry))
        return forget();
    if (entry.kind == Kind::newFolder)
        return forNewFolder(entry, place);
    const Presence hidden = place.lookUp(entry.path);
    if (hidden == Presence::unknown)
        return keep();
    if (hidden == Presence::absent)
        return whenAbsent(entry, place);
    if (entry.kind == Kind::partialCopy)
        return {Action::remove, {entry.path}, {}};
    return forAside(entry, place);
}

bool LeftoverCleanup::settle(const Entry& entry, const Place& place) {
    if (!isOwnEntry(entry)) {
        Logger::filesystem().error("Ignored a leftover entry that names no hidden item of ours: %s", entry.path);
        return true;
    }
    const Decision decision = decide(entry, place);
    switch (decision.action) {
    case Action::keep:
        Logger::filesystem().info("Kept %s for later: it cannot be dealt with now", entry.path);
        return false;
    case Action::forget:
        return true;
    case Action::remove:
        for (const QString& path : decision.paths) {
            place.remove(path);
            Logger::filesystem().info("Removed %s, left by a copy that did not finish", path);
        }
        return true;
    case Action::putBack:
        if (!place.renameUnlessTaken(decision.paths.front(), decision.target)) {
            Logger::filesystem().info("Kept %s for later: %s was taken meanwhile", entry.path, decision.target);
            return false;
        }
        Logger::filesystem().info("Put back %s, set aside by a copy that did not finish", decision.target);
        return true;
    }
    return false;
}
