// The clean-up's decision for one entry, against a place whose answers the test sets: it acts only
// on what the records prove, keeps what it cannot tell, and touches nothing but our own hidden
// names beside the item an entry stands for.

#include "device/LeftoverCleanup.h"

#include <QMap>
#include <QTest>

using Entry = LeftoverJournal::Entry;
using Kind = LeftoverJournal::Kind;
using Presence = LeftoverCleanup::Presence;
using Action = LeftoverCleanup::Action;

Q_DECLARE_METATYPE(Entry)
Q_DECLARE_METATYPE(Action)

namespace {

const QString aside = QStringLiteral("/d/.orvanta-aside-0123456789abcdef");
const QString partial = QStringLiteral("/d/.orvanta-partial-0123456789abcdef");

// What each path answers; anything not listed is absent. "?" answers unknown.
struct FakePlace {
    QMap<QString, QString> items;
    QStringList calls;

    LeftoverCleanup::Place place() {
        return {[this](const QString& path) {
                    if (!items.contains(path))
                        return Presence::absent;
                    return items.value(path) == QLatin1String("?") ? Presence::unknown : Presence::present;
                },
                [this](const QString& folder) -> std::optional<QStringList> {
                    QStringList names;
                    for (auto it = items.cbegin(); it != items.cend(); ++it) {
                        if (it.key().startsWith(folder + u'/') && !it.key().mid(folder.size() + 1).contains(u'/'))
                            names << it.key().mid(folder.size() + 1);
                    }
                    return names;
                },
                [this](const QString& from, const QString& to) {
                    if (items.contains(to))
                        return false;
                    calls << QStringLiteral("rename %1 %2").arg(from, to);
                    items.insert(to, items.take(from));
                    return true;
                },
                [this](const QString& path) {
                    calls << QStringLiteral("remove %1").arg(path);
                    items.remove(path);
                }};
    }
};

} // namespace

class tst_LeftoverCleanup : public QObject {
    Q_OBJECT

private slots:
    void decidesOnlyByWhatIsProven_data();
    void decidesOnlyByWhatIsProven();
    void foreignEntriesTouchNothing_data();
    void foreignEntriesTouchNothing();
    void settlingActsOnTheDecision();
};

void tst_LeftoverCleanup::decidesOnlyByWhatIsProven_data() {
    QTest::addColumn<Entry>("entry");
    QTest::addColumn<QStringList>("present"); // paths there; "path=?" for a look that fails
    QTest::addColumn<Action>("action");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QString>("target");
    const Entry set{Kind::asideItem, QString(), QString(), aside, QStringLiteral("/d/Notes.txt")};
    Entry replaced = set;
    replaced.replaced = true;
    const Entry half{Kind::partialCopy, QString(), QString(), partial, QString()};
    const Entry folder{Kind::newFolder, QString(), QString(), QStringLiteral("/d/New"), QString()};

    QTest::newRow("partial copy goes") << half << QStringList{"/d", partial} << Action::remove << QStringList{partial}
                                       << "";
    QTest::newRow("partial copy already gone") << half << QStringList{"/d"} << Action::forget << QStringList() << "";
    QTest::newRow("folder missing: a disk not mounted")
        << half << QStringList() << Action::keep << QStringList() << "";
    QTest::newRow("look fails") << half << QStringList{"/d", partial + "=?"} << Action::keep << QStringList() << "";
    QTest::newRow("aside, name free") << set << QStringList{"/d", aside} << Action::putBack << QStringList{aside}
                                      << "/d/Notes.txt";
    QTest::newRow("aside, name taken by another program")
        << set << QStringList{"/d", aside, "/d/Notes.txt"} << Action::putBack << QStringList{aside}
        << "/d/Notes copy.txt";
    QTest::newRow("aside, name and first copy name taken")
        << set << QStringList{"/d", aside, "/d/Notes.txt", "/d/Notes copy.txt"} << Action::putBack
        << QStringList{aside} << "/d/Notes copy 2.txt";
    QTest::newRow("aside, the name cannot be looked at")
        << set << QStringList{"/d", aside, "/d/Notes.txt=?"} << Action::keep << QStringList() << "";
    QTest::newRow("aside, replacement recorded whole")
        << replaced << QStringList{"/d", aside, "/d/Notes.txt"} << Action::remove << QStringList{aside} << "";
    QTest::newRow("aside already dealt with") << set << QStringList{"/d", "/d/Notes.txt"} << Action::forget
                                              << QStringList() << "";
    QTest::newRow("aside in a folder that is not there") << set << QStringList{"/x"} << Action::keep
                                                         << QStringList() << "";
    QTest::newRow("new folder: only our partial copies in it go")
        << folder
        << QStringList{"/d", "/d/New", "/d/New/a.txt", "/d/New/.orvanta-partial-00000000000000aa",
                       "/d/New/.orvanta-aside-00000000000000aa", "/d/New/.orvanta-partial-evil"}
        << Action::remove << QStringList{"/d/New/.orvanta-partial-00000000000000aa"} << "";
    QTest::newRow("new folder, nothing of ours in it")
        << folder << QStringList{"/d", "/d/New", "/d/New/a.txt"} << Action::forget << QStringList() << "";
    QTest::newRow("new folder gone with its disk") << folder << QStringList() << Action::keep << QStringList() << "";
    // Another copy writes into the folder meanwhile (a second paste, another instance).
    Entry marked = folder;
    marked.mark = QStringLiteral("0a1b2c3d");
    const QString own = QStringLiteral("/d/New/.orvanta-partial-0a1b2c3d0123456789abcdef");
    const QString othersMarked = QStringLiteral("/d/New/.orvanta-partial-ffffffff0123456789abcdef");
    const QString unmarked = QStringLiteral("/d/New/.orvanta-partial-00000000000000aa");
    QTest::newRow("new folder: only its own transfer's partial copies go")
        << marked << QStringList{"/d", "/d/New", own, othersMarked, unmarked} << Action::remove
        << QStringList{own} << "";
    QTest::newRow("new folder: another transfer's partial copies only")
        << marked << QStringList{"/d", "/d/New", othersMarked, unmarked} << Action::forget << QStringList()
        << "";
    QTest::newRow("new folder written down before marks: marked partial copies stay")
        << folder << QStringList{"/d", "/d/New", own, unmarked} << Action::remove << QStringList{unmarked}
        << "";
}

void tst_LeftoverCleanup::decidesOnlyByWhatIsProven() {
    QFETCH(Entry, entry);
    QFETCH(QStringList, present);
    QFETCH(Action, action);
    QFETCH(QStringList, paths);
    QFETCH(QString, target);
    FakePlace fake;
    for (const QString& item : present) {
        const QStringList parts = item.split(u'=');
        fake.items.insert(parts.front(), parts.value(1, QStringLiteral("x")));
    }

    const LeftoverCleanup::Decision decision = LeftoverCleanup::decide(entry, fake.place());

    QCOMPARE(decision.action, action);
    QCOMPARE(decision.paths, paths);
    QCOMPARE(decision.target, target);
    QVERIFY(fake.calls.isEmpty());
}

void tst_LeftoverCleanup::foreignEntriesTouchNothing_data() {
    QTest::addColumn<Entry>("entry");
    QTest::newRow("a user's folder as a partial copy")
        << Entry{Kind::partialCopy, QString(), QString(), QStringLiteral("/home/u/Documents"), QString()};
    QTest::newRow("a name like ours but not of our making")
        << Entry{Kind::partialCopy, QString(), QString(), QStringLiteral("/d/.orvanta-partial-x"), QString()};
    QTest::newRow("a partial name standing as an aside")
        << Entry{Kind::asideItem, QString(), QString(), partial, QStringLiteral("/d/Notes.txt")};
    QTest::newRow("put back into another folder")
        << Entry{Kind::asideItem, QString(), QString(), aside, QStringLiteral("/e/Notes.txt")};
    QTest::newRow("a step up") << Entry{Kind::partialCopy, QString(), QString(),
                                        QStringLiteral("/d/x/../.orvanta-partial-0123456789abcdef"), QString()};
    QTest::newRow("a relative path")
        << Entry{Kind::partialCopy, QString(), QString(), QStringLiteral("d/.orvanta-partial-0123456789abcdef"),
                 QString()};
    QTest::newRow("a NUL inside")
        << Entry{Kind::asideItem, QString(), QString(), aside, QStringLiteral("/d/a") + QChar(0) + QStringLiteral("b")};
    QTest::newRow("the root as a new folder") << Entry{Kind::newFolder, QString(), QString(), QStringLiteral("/"),
                                                       QString()};
    Entry markedPartial{Kind::partialCopy, QString(), QString(), partial, QString()};
    markedPartial.mark = QStringLiteral("0a1b2c3d");
    QTest::newRow("a mark on what is no new folder") << markedPartial;
    Entry badMark{Kind::newFolder, QString(), QString(), QStringLiteral("/d/New"), QString()};
    badMark.mark = QStringLiteral("*");
    QTest::newRow("a mark not of our making") << badMark;
}

void tst_LeftoverCleanup::foreignEntriesTouchNothing() {
    QFETCH(Entry, entry);
    FakePlace fake;
    for (const QString& path : {entry.path, entry.originalPath, QStringLiteral("/d"), QStringLiteral("/e"),
                                QStringLiteral("/d/Notes.txt")})
        fake.items.insert(path, QStringLiteral("x"));

    QVERIFY(!LeftoverCleanup::isOwnEntry(entry));
    QCOMPARE(LeftoverCleanup::decide(entry, fake.place()).action, Action::forget);
    QVERIFY(LeftoverCleanup::settle(entry, fake.place()));
    QVERIFY(fake.calls.isEmpty());
}

void tst_LeftoverCleanup::settlingActsOnTheDecision() {
    FakePlace fake;
    fake.items = {{QStringLiteral("/d"), QStringLiteral("x")}, {aside, QStringLiteral("old")},
                  {QStringLiteral("/d/Notes.txt"), QStringLiteral("theirs")}};
    const Entry set{Kind::asideItem, QString(), QString(), aside, QStringLiteral("/d/Notes.txt")};

    QVERIFY(LeftoverCleanup::settle(set, fake.place()));
    QCOMPARE(fake.calls, QStringList{"rename " + aside + " /d/Notes copy.txt"});
    QCOMPARE(fake.items.value(QStringLiteral("/d/Notes copy.txt")), QStringLiteral("old"));
    QCOMPARE(fake.items.value(QStringLiteral("/d/Notes.txt")), QStringLiteral("theirs"));
    // A kept entry is not settled.
    fake.items.insert(QStringLiteral("/d/.orvanta-partial-0123456789abcdef"), QStringLiteral("?"));
    QVERIFY(!LeftoverCleanup::settle({Kind::partialCopy, QString(), QString(), partial, QString()}, fake.place()));
}

QTEST_GUILESS_MAIN(tst_LeftoverCleanup)
#include "tst_LeftoverCleanup.moc"
