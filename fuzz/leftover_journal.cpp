// The journal of leftovers: read at every start and every device session, and the one stored file
// whose lines make the program remove and rename things. Its reader, then the clean-up's decision
// for each entry against a throw-away folder that holds the items the entry names: no decision
// may name a path outside the folder of the item an entry stands for, nor a name the program did
// not make. The entries read are written by a journal of their own and read back the same.

#include "FuzzSupport.h"
#include "device/AFCPath.h"
#include "device/LeftoverCleanup.h"
#include "device/LeftoverJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>

namespace {

using Entry = LeftoverJournal::Entry;
using Presence = LeftoverCleanup::Presence;

// The place: every path below the throw-away folder. Only looked at, never changed.
LeftoverCleanup::Place placeIn(const QString& root) {
    return {[root](const QString& path) {
                struct stat st {};
                if (::lstat(QFile::encodeName(root + path).constData(), &st) == 0)
                    return Presence::present;
                return errno == ENOENT || errno == ENOTDIR ? Presence::absent : Presence::unknown;
            },
            [root](const QString& folder) -> std::optional<QStringList> {
                const QDir dir(root + folder);
                if (!dir.exists())
                    return std::nullopt;
                return dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
            },
            [](const QString&, const QString&) -> bool {
                fuzzCheck(false, "deciding never renames");
                return false;
            },
            [](const QString&) { fuzzCheck(false, "deciding never removes"); }};
}

// Makes what the entry names, so that the decision meets items: the hidden one, and every other
// time the name it stands for and a partial copy beside it.
void makeItems(const QString& root, const Entry& entry, bool withOriginal) {
    QDir().mkpath(root + AFCPath::parent(entry.path));
    if (entry.kind != LeftoverJournal::Kind::newFolder)
        QFile(root + entry.path).open(QIODevice::WriteOnly);
    else {
        QDir().mkpath(root + entry.path);
        // An unmarked partial copy, one of the entry's own transfer and one of another's.
        for (const QString& mark : {QString(), entry.mark, QStringLiteral("ffffffff")})
            QFile(root + entry.path + QStringLiteral("/.orvanta-partial-") + mark +
                  QStringLiteral("0123456789abcdef"))
                .open(QIODevice::WriteOnly);
        QFile(root + entry.path + QStringLiteral("/keep.txt")).open(QIODevice::WriteOnly);
    }
    if (withOriginal && !entry.originalPath.isEmpty())
        QFile(root + entry.originalPath).open(QIODevice::WriteOnly);
}

bool isCopyNameOf(const QString& name, const QString& original) {
    for (int number = 1; number <= LeftoverCleanup::mostCopyNames; ++number) {
        if (name == AFCPath::copyNameOf(original, number))
            return true;
    }
    return false;
}

void checkDecision(const Entry& entry, const LeftoverCleanup::Decision& decision) {
    using Action = LeftoverCleanup::Action;
    if (decision.action == Action::keep || decision.action == Action::forget) {
        fuzzCheck(decision.paths.isEmpty() && decision.target.isEmpty(), "keeping or forgetting names nothing");
        return;
    }
    fuzzCheck(LeftoverCleanup::isOwnEntry(entry), "only an entry of ours is acted on");
    fuzzCheck(!decision.paths.isEmpty(), "an action names its items");
    for (const QString& path : decision.paths) {
        const QString name = AFCPath::lastComponent(path);
        if (entry.kind == LeftoverJournal::Kind::newFolder) {
            fuzzCheck(
                AFCPath::parent(path) == entry.path && AFCPath::isMadePartialCopyName(name, entry.mark),
                "a new folder's clean-up touches only its own transfer's partial copies directly in it");
        } else {
            fuzzCheck(path == entry.path, "an entry's clean-up touches only its own hidden item");
            fuzzCheck(AFCPath::isMadePartialCopyName(name) || AFCPath::isMadeAsideName(name),
                      "a hidden item acted on has a name of our making");
        }
    }
    if (decision.action == Action::putBack) {
        fuzzCheck(entry.kind == LeftoverJournal::Kind::asideItem && !entry.replaced,
                  "only an item set aside without a recorded replacement is put back");
        fuzzCheck(AFCPath::parent(decision.target) == AFCPath::parent(entry.path),
                  "an item is put back in its own folder");
        const QString original = AFCPath::lastComponent(entry.originalPath);
        const QString name = AFCPath::lastComponent(decision.target);
        fuzzCheck(name == original || isCopyNameOf(name, original),
                  "an item is put back under its name or a copy name of it");
    } else {
        fuzzCheck(decision.target.isEmpty(), "only putting back names a target");
        fuzzCheck(entry.kind != LeftoverJournal::Kind::asideItem || entry.replaced,
                  "an item set aside is removed only after its replacement was recorded");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QList<Entry> entries = LeftoverJournal::parse(fuzzBytes(data, size));
    const QString scratch = fuzzScratchFolder();
    const QString root = scratch + QStringLiteral("/place");
    for (qsizetype index = 0; index < entries.size(); ++index) {
        const Entry& entry = entries.at(index);
        fuzzCheck(LeftoverCleanup::isOwnEntry(entry), "the reader hands out only entries of ours");
        QDir(root).removeRecursively();
        makeItems(root, entry, index % 2 == 1);
        checkDecision(entry, LeftoverCleanup::decide(entry, placeIn(root)));
    }
    QDir(root).removeRecursively();

    // What was read is written and read back the same, replacement records included.
    const QString file = scratch + QStringLiteral("/journal/Leftovers.jsonl");
    QList<Entry> written;
    {
        LeftoverJournal journal(file);
        for (const Entry& entry : entries) {
            if (written.contains(entry))
                continue;
            journal.begin(entry);
            if (entry.replaced)
                journal.recordReplaced(entry);
            journal.released(entry);
            written.append(entry);
        }
        QFile stored(journal.ownFile());
        const QList<Entry> again = stored.open(QIODevice::ReadOnly) ? LeftoverJournal::parse(stored.readAll())
                                                                     : QList<Entry>();
        fuzzCheck(again == written, "entries written read back the same");
        for (qsizetype index = 0; index < again.size() && again == written; ++index)
            fuzzCheck(again.at(index).replaced == written.at(index).replaced, "a replacement record reads back");
        for (const Entry& entry : written)
            journal.finished(entry);
    }
    QDir(scratch + QStringLiteral("/journal")).removeRecursively();
    return 0;
}
