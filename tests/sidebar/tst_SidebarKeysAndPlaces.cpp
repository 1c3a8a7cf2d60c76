// The sidebar as the keyboard walks it and as the places on disk come and go: every row that can be
// chosen is reached by the keys and only the one they stop on opens; the computer's places and
// the recent folders follow the folders removed and made while the sidebar shows them.

#include "SidebarTestBed.h"
#include "WidgetDeviceTestMain.h"
#include "uikit/Colours.h"

#include <QGuiApplication>

using namespace std::chrono_literals;
using namespace SidebarTesting;

class tst_SidebarKeysAndPlaces : public SidebarTestBed {
    Q_OBJECT

private slots:
    void initTestCase() { setUpHome(); }
    // The usual places again, whatever a test removed.
    void init() {
        setUpHome();
        setUpServices();
    }
    void cleanup() { tearDownServices(); }

    void keysReachEveryRow_data();
    void keysReachEveryRow();
    void keysOpenTheRowStoppedOn();
    void placesFollowTheHomeFolder();
    void goneRecentFoldersAreGrey();

private:
    // Lets the sidebar see what changed on disk: the watch's report waits for the system's word
    // of a change, then for the watch's quiet time on the manual clock.
    void followDisk();
    QStringList locationRows() const;
    // Each RECENT row's title with its alpha.
    QStringList recentRows() const;
};

void tst_SidebarKeysAndPlaces::followDisk() {
    QTRY_VERIFY(m_timers.pendingCount() > 0);
    m_timers.advance(1s);
    settle();
}

QStringList tst_SidebarKeysAndPlaces::locationRows() const {
    return titles(item({"LOCATIONS"})->children());
}

QStringList tst_SidebarKeysAndPlaces::recentRows() const {
    QStringList rows;
    const QModelIndex recent = find({"RECENT"});
    for (int row = 0; recent.isValid() && row < m_sidebar->model().rowCount(recent); ++row) {
        const QModelIndex index = m_sidebar->model().index(row, 0, recent);
        rows << index.data().toString() + u' ' +
                    QString::number(index.data(SidebarModel::AlphaRole).toDouble());
    }
    return rows;
}

namespace {

QString titlePath(const QModelIndex& index) {
    QStringList titles;
    for (QModelIndex row = index; row.isValid(); row = row.parent())
        titles.prepend(row.data().toString());
    return titles.join(u'/');
}

// The rows a user can choose, in the order shown.
QStringList choosableRows(QTreeView* view) {
    QStringList rows;
    for (QModelIndex index = view->model()->index(0, 0); index.isValid(); index = view->indexBelow(index)) {
        if (index.flags() & Qt::ItemIsSelectable)
            rows << titlePath(index);
    }
    return rows;
}

// The keyboard's row, which must also be the one selected.
QString keyRow(QTreeView* view) {
    const QModelIndex current = view->currentIndex();
    const QModelIndexList selected = view->selectionModel()->selectedRows();
    if (selected.size() != 1 || selected.first() != current)
        return QStringLiteral("current %1, %2 selected").arg(titlePath(current)).arg(selected.size());
    return titlePath(current);
}

// The rows one key reaches pressed again and again from where the keyboard is, until it stays.
QStringList walk(QTreeView* view, Qt::Key key) {
    QStringList rows{keyRow(view)};
    for (int presses = 0; presses < 60; ++presses) {
        QTest::keyClick(view, key);
        if (keyRow(view) == rows.last())
            break;
        rows << keyRow(view);
    }
    return rows;
}

} // namespace

void tst_SidebarKeysAndPlaces::keysReachEveryRow_data() {
    QTest::addColumn<bool>("recent");
    QTest::addColumn<bool>("favourite");
    QTest::addColumn<bool>("device");
    QTest::newRow("places and no device") << false << false << false;
    QTest::newRow("recent") << true << false << false;
    QTest::newRow("favourite") << false << true << false;
    QTest::newRow("device") << false << false << true;
    QTest::newRow("every section") << true << true << true;
}

// Up, Down, Home, End and the page keys step over the section headings (and the Apps row, which
// cannot be chosen either) to every row that can be, in every section, and stop at either end.
void tst_SidebarKeysAndPlaces::keysReachEveryRow() {
    QFETCH(bool, recent);
    QFETCH(bool, favourite);
    QFETCH(bool, device);
    if (recent) {
        m_navigation->addRecentPath(URL::fileURL(QStringLiteral("/srv/films"), true));
        m_navigation->addRecentPath(URL::fileURL(QStringLiteral("/srv/projects"), true));
    }
    if (favourite)
        m_favorites->add(QStringLiteral("Music"), URL::fileURL(QStringLiteral("/srv/music"), true),
                         QStringLiteral("folder.fill"));
    if (device) {
        plug(udid);
        m_deviceManager->connectedDevices = QList<iOSDevice>{record(udid, QStringLiteral("Studio iPhone"))};
    }
    makeController();
    QTreeView* view = m_sidebar->outlineView();
    const QStringList rows = choosableRows(view);
    QCOMPARE(rows.first(), QStringLiteral("LOCATIONS/Home"));
    if (device)
        QVERIFY(rows.contains(QStringLiteral("DEVICES/Studio iPhone/Apps/Notes")));

    QTest::keyClick(view, Qt::Key_Home);
    QCOMPARE(keyRow(view), rows.first());
    QCOMPARE(walk(view, Qt::Key_Down), rows);
    QTest::keyClick(view, Qt::Key_End);
    QCOMPARE(keyRow(view), rows.last());
    QStringList upwards = rows;
    std::reverse(upwards.begin(), upwards.end());
    QCOMPARE(walk(view, Qt::Key_Up), upwards);

    // The page keys land on rows that can be chosen and end at either end.
    for (const auto& [key, end] :
         {std::pair{Qt::Key_PageDown, rows.last()}, std::pair{Qt::Key_PageUp, rows.first()}}) {
        const QStringList landed = walk(view, key);
        for (const QString& row : landed)
            QVERIFY2(rows.contains(row), qPrintable(row));
        QCOMPARE(landed.last(), end);
    }
    // Left below a heading goes nowhere, rather than onto it.
    QTest::keyClick(view, Qt::Key_Home);
    QTest::keyClick(view, Qt::Key_Left);
    QCOMPARE(keyRow(view), rows.first());
    // A click on a heading leaves the keyboard's row where it was.
    QTest::keyClick(view, Qt::Key_End);
    click({"LOCATIONS"});
    QCOMPARE(keyRow(view), rows.last());
    // With nothing selected, Down starts at the top.
    view->selectionModel()->clear();
    QTest::keyClick(view, Qt::Key_Down);
    QCOMPARE(keyRow(view), rows.first());
}

// Rows passed over with the keys are not opened (they would fill RECENT with every folder on the
// way): the row the keys stop on opens after a short pause, or at once on Return or a click.
void tst_SidebarKeysAndPlaces::keysOpenTheRowStoppedOn() {
    makeController();
    QTreeView* view = m_sidebar->outlineView();
    const auto shown = [this] {
        return m_navigation->currentPath.value().value_or(URL()).lastPathComponent();
    };
    click({"LOCATIONS", "Home"});
    settle();
    const qsizetype history = m_navigation->backStack().size();
    const qsizetype recent = m_navigation->recentPaths.value().size();
    const QString home = shown();

    QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Down);
    settle();
    QCOMPARE(keyRow(view), QStringLiteral("LOCATIONS/Documents"));
    m_timers.advance(SidebarViewController::keyPause - 1ms);
    settle();
    QCOMPARE(shown(), home);
    m_timers.advance(1ms);
    settle();
    QCOMPARE(shown(), QStringLiteral("Documents"));
    QCOMPARE(m_navigation->backStack().size(), history + 1);
    QCOMPARE(m_navigation->recentPaths.value().size(), recent + 1);
    QCOMPARE(keyRow(view), QStringLiteral("LOCATIONS/Documents"));

    // Return opens the row at once, and the pause then opens nothing more.
    QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Return);
    settle();
    QCOMPARE(shown(), QStringLiteral("Downloads"));
    m_timers.advance(SidebarViewController::keyPause);
    settle();
    QCOMPARE(m_navigation->backStack().size(), history + 2);

    // So does a click on the row the keys stopped on.
    QTest::keyClick(view, Qt::Key_Up);
    click({"LOCATIONS", "Documents"});
    settle();
    QCOMPARE(shown(), QStringLiteral("Documents"));
    QCOMPARE(m_navigation->backStack().size(), history + 3);

    // A section built again meanwhile keeps the row the keys stopped on, which still opens.
    QTest::keyClick(view, Qt::Key_Up);
    m_favorites->add(QStringLiteral("Music"), URL::fileURL(QStringLiteral("/srv/music"), true),
                     QStringLiteral("folder.fill"));
    settle();
    QVERIFY(find({"FAVORITES", "Music"}).isValid());
    QCOMPARE(keyRow(view), QStringLiteral("LOCATIONS/Desktop"));
    m_timers.advance(SidebarViewController::keyPause);
    settle();
    QCOMPARE(shown(), QStringLiteral("Desktop"));
    QCOMPARE(keyRow(view), QStringLiteral("LOCATIONS/Desktop"));

    // A navigation from elsewhere (the history, the path bar) after the keys moved wins: the row
    // they stopped on does not open after it.
    QTest::keyClick(view, Qt::Key_Up);
    QCOMPARE(keyRow(view), QStringLiteral("LOCATIONS/Home"));
    m_navigation->goBack();
    settle();
    m_timers.advance(SidebarViewController::keyPause);
    settle();
    QCOMPARE(shown(), QStringLiteral("Documents"));
    QCOMPARE(keyRow(view), QStringLiteral("LOCATIONS/Documents"));
}

// A place removed while the sidebar shows it leaves LOCATIONS (a click on it would only say it
// could not be listed) and comes back when it is made again; a place the user visited is then a
// recent folder like any other, shown grey while it is gone.
void tst_SidebarKeysAndPlaces::placesFollowTheHomeFolder() {
    const QString desktop = m_home.filePath(QStringLiteral("Desktop"));
    m_navigation->addRecentPath(URL::fileURL(desktop, true));
    makeController();
    QCOMPARE(locationRows(), (QStringList{"Home", "Desktop", "Documents", "Downloads"}));
    QVERIFY(!find({"RECENT"}).isValid());

    QVERIFY(QDir(desktop).removeRecursively());
    followDisk();
    QCOMPARE(locationRows(), (QStringList{"Home", "Documents", "Downloads"}));
    QCOMPARE(recentRows(), QStringList{"Desktop 0.4"});

    QVERIFY(QDir().mkpath(desktop));
    followDisk();
    QCOMPARE(locationRows(), (QStringList{"Home", "Desktop", "Documents", "Downloads"}));
    QVERIFY(!find({"RECENT"}).isValid());
}

// A recent computer folder that is gone stays under its title (RECENT lists every recent folder)
// but grey, as a favourite out of reach is, while it is gone; device folders keep their titles
// and look.
void tst_SidebarKeysAndPlaces::goneRecentFoldersAreGrey() {
    const QString films = scratchPath(QStringLiteral("Films"));
    const QString music = scratchPath(QStringLiteral("Music"));
    QVERIFY(QDir().mkpath(films) && QDir().mkpath(music));
    // (scratchPath makes the folder it names.)
    const QString never = scratchPath() + QStringLiteral("/Never");
    const QString moved = scratchPath() + QStringLiteral("/Music moved");
    m_navigation->addRecentPath(URL::fileURL(never, true));
    m_navigation->addRecentPath(afc(otherUdid, QStringLiteral("/")));
    m_navigation->addRecentPath(afc(otherUdid, QStringLiteral("/DCIM/100APPLE/Edits")));
    m_navigation->addRecentPath(URL::fileURL(music, true));
    m_navigation->addRecentPath(URL::fileURL(films, true));
    makeController();
    const QStringList before{"Films 1", "Music 1", "../100APPLE/Edits 1", "Device 1", "Never 0.4"};
    QCOMPARE(recentRows(), before);
    QCOMPARE(find({"RECENT", "Never"}).data(Qt::ForegroundRole).value<QColor>(),
             Colours::tertiaryLabel(QGuiApplication::palette()));

    QVERIFY(QDir(films).removeRecursively());
    followDisk();
    QCOMPARE(recentRows(),
             (QStringList{"Films 0.4", "Music 1", "../100APPLE/Edits 1", "Device 1", "Never 0.4"}));
    // Moved away, as a desktop's waste basket does.
    QVERIFY(QDir().rename(music, moved));
    followDisk();
    QCOMPARE(recentRows(),
             (QStringList{"Films 0.4", "Music 0.4", "../100APPLE/Edits 1", "Device 1", "Never 0.4"}));

    QVERIFY(QDir().mkpath(films) && QDir().rename(moved, music));
    followDisk();
    QCOMPARE(recentRows(), before);
}

ORVANTA_WIDGET_DEVICE_TEST_MAIN(tst_SidebarKeysAndPlaces)
#include "tst_SidebarKeysAndPlaces.moc"
