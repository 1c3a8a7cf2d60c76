// The sidebar against fakes and the device emulator: which sections exist and how they follow the
// recent folders, favourites and devices; the device rows with the recording app; titles; the
// look of the rows; what a click does, with the step into the newest camera folder; the Apps
// listing; the favourites menu.

#include "LogCapture.h"
#include "SidebarTestBed.h"
#include "WidgetDeviceTestMain.h"
#include "sidebar/SidebarItemDelegate.h"
#include "uikit/Colours.h"

#include <QAction>
#include <QApplication>
#include <QFont>
#include <QMenu>

using namespace std::chrono_literals;
using namespace SidebarTesting;
using async::runSync;

class tst_SidebarViewController : public SidebarTestBed {
    Q_OBJECT

private slots:
    void initTestCase() { setUpHome(); }
    void init() { setUpServices(); }
    void cleanup() { tearDownServices(); }

    void sectionsAtStart_data();
    void sectionsAtStart();
    void sectionsFollowChanges();
    void favouriteAvailabilityFollowsDevices();
    void deviceRowsWithRecordingApp_data();
    void deviceRowsWithRecordingApp();
    void recentTitles_data();
    void recentTitles();
    void recentDeviceRowsFollowTheDevice();
    void rowLook_data();
    void rowLook();
    void photosStepsIntoNewestCameraFolder_data();
    void photosStepsIntoNewestCameraFolder();
    void photosStepWaitsForNobody_data();
    void photosStepWaitsForNobody();
    void appsAreListedOnceAndRetriedAfterFailure();
    void rebuildNeverNavigates();
    void favouritesMenu();
    void rightPressOnlyOpensTheMenu();
    void onlyPlacesThatAreThere_data();
    void onlyPlacesThatAreThere();
    void theShownRowStaysSelected();
    void selectedRowSymbolStaysVisible();
};

void tst_SidebarViewController::sectionsAtStart_data() {
    QTest::addColumn<QStringList>("recent");
    QTest::addColumn<QStringList>("favourites");
    QTest::addColumn<QStringList>("roots");
    QTest::addColumn<QStringList>("recentRows");

    QTest::newRow("nothing") << QStringList() << QStringList() << QStringList{"LOCATIONS", "DEVICES"}
                             << QStringList();
    QTest::newRow("recent and favourite")
        << QStringList{"/srv/projects"} << QStringList{"file:///srv/music/"}
        << QStringList{"LOCATIONS", "RECENT", "FAVORITES", "DEVICES"} << QStringList{"projects"};
    // Downloads visited without its trailing "/" is still the LOCATIONS row.
    QTest::newRow("recent that is a location")
        << QStringList{"<downloads>", "/srv/a/"} << QStringList()
        << QStringList{"LOCATIONS", "RECENT", "DEVICES"} << QStringList{"a"};
    // An unreadable favourite is left out, but its section stays.
    QTest::newRow("unparsable favourite")
        << QStringList() << QStringList{"not a url"} << QStringList{"LOCATIONS", "FAVORITES", "DEVICES"}
        << QStringList();
}

void tst_SidebarViewController::sectionsAtStart() {
    QFETCH(QStringList, recent);
    QFETCH(QStringList, favourites);
    QFETCH(QStringList, roots);
    QFETCH(QStringList, recentRows);

    const QString home = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (downloads.isEmpty())
        downloads = home;
    for (auto it = recent.crbegin(); it != recent.crend(); ++it) {
        QString path = *it;
        path.replace(QStringLiteral("<downloads>"), downloads).replace(QStringLiteral("<home>"), home);
        m_navigation->addRecentPath(URL::fileURL(path, path.endsWith(QLatin1Char('/'))));
    }
    QList<FavoriteItem> stored;
    for (const QString& text : favourites)
        stored.append({QUuid::createUuid(), QStringLiteral("Fav"), text, QStringLiteral("folder.fill")});
    m_favorites->favorites = stored;

    makeController();
    QCOMPARE(titles(m_sidebar->rootItems()), roots);
    QCOMPARE(titles(m_sidebar->rootItems().front()->children()),
             (QStringList{"Home", "Desktop", "Documents", "Downloads"}));
    QCOMPARE(titles(m_sidebar->rootItems().back()->children()), QStringList{"No devices"});
    if (const auto index = m_sidebar->sectionIndex(QStringLiteral("RECENT")))
        QCOMPARE(titles(m_sidebar->rootItems()[size_t(*index)]->children()), recentRows);
    else
        QVERIFY(recentRows.isEmpty());
    // Everything stands open.
    QVERIFY(m_sidebar->outlineView()->isExpanded(find({"DEVICES"})));
}

void tst_SidebarViewController::sectionsFollowChanges() {
    makeController();
    QCOMPARE(titles(m_sidebar->rootItems()), (QStringList{"LOCATIONS", "DEVICES"}));

    m_favorites->add(QStringLiteral("Music"), URL::fileURL(QStringLiteral("/srv/music"), true),
                     QStringLiteral("folder.fill"));
    settle();
    QCOMPARE(titles(m_sidebar->rootItems()), (QStringList{"LOCATIONS", "FAVORITES", "DEVICES"}));

    m_navigation->navigate(URL::fileURL(QStringLiteral("/srv/projects"), true));
    settle();
    QCOMPARE(titles(m_sidebar->rootItems()), (QStringList{"LOCATIONS", "RECENT", "FAVORITES", "DEVICES"}));
    QVERIFY(m_sidebar->outlineView()->isExpanded(find({"RECENT"})));

    m_navigation->navigate(URL::fileURL(QStringLiteral("/srv/other"), true));
    settle();
    QCOMPARE(titles(item({"RECENT"})->children()), (QStringList{"other", "projects"}));

    m_navigation->recentPaths = QList<URL>();
    settle();
    QCOMPARE(titles(m_sidebar->rootItems()), (QStringList{"LOCATIONS", "FAVORITES", "DEVICES"}));

    m_favorites->favorites = QList<FavoriteItem>();
    settle();
    QCOMPARE(titles(m_sidebar->rootItems()), (QStringList{"LOCATIONS", "DEVICES"}));
}

void tst_SidebarViewController::favouriteAvailabilityFollowsDevices() {
    plug(udid);
    m_favorites->add(QStringLiteral("Camera"), afc(udid, QStringLiteral("/DCIM/")),
                     QStringLiteral("folder.fill"));
    m_favorites->add(QStringLiteral("Elsewhere"), afc(otherUdid, QStringLiteral("/DCIM")),
                     QStringLiteral("folder.fill"));
    m_favorites->add(QStringLiteral("Music"), URL::fileURL(QStringLiteral("/srv/music"), true),
                     QStringLiteral("folder.fill"));
    makeController();

    const auto alphas = [this] {
        QList<double> result;
        for (const QString& name :
             {QStringLiteral("Camera"), QStringLiteral("Elsewhere"), QStringLiteral("Music")})
            result << find({"FAVORITES", name}).data(SidebarModel::AlphaRole).toDouble();
        return result;
    };
    QCOMPARE(alphas(), (QList<double>{0.4, 0.4, 1.0}));
    QCOMPARE(find({"FAVORITES", "Camera"}).data(Qt::ForegroundRole).value<QColor>(),
             Colours::tertiaryLabel(QGuiApplication::palette()));

    m_deviceManager->connectedDevices = QList<iOSDevice>{record(udid, QStringLiteral("Studio iPhone"))};
    settle();
    QCOMPARE(alphas(), (QList<double>{1.0, 0.4, 1.0}));

    m_deviceManager->connectedDevices = QList<iOSDevice>();
    settle();
    QCOMPARE(alphas(), (QList<double>{0.4, 0.4, 1.0}));
}

void tst_SidebarViewController::deviceRowsWithRecordingApp_data() {
    QTest::addColumn<bool>("installed");
    QTest::addColumn<bool>("browseFails");
    QTest::addColumn<QStringList>("children");

    QTest::newRow("with the recording app") << true << false << QStringList{"Photos", "Recordings", "Apps"};
    QTest::newRow("without it") << false << false << QStringList{"Photos", "Apps"};
    QTest::newRow("app listing fails") << true << true << QStringList{"Photos", "Apps"};
}

void tst_SidebarViewController::deviceRowsWithRecordingApp() {
    QFETCH(bool, installed);
    QFETCH(bool, browseFails);
    QFETCH(QStringList, children);

    fakemux::VirtualDevice& device = plug(udid, installed);
    if (browseFails)
        device.faults().setBrowseError("InstallProxyFailed", "lost");
    LogCapture logs;
    m_deviceManager->connectedDevices = QList<iOSDevice>{record(udid, QStringLiteral("Studio iPhone"))};
    makeController();
    QCOMPARE(titles(item({"DEVICES", "Studio iPhone"})->children()), children);

    // Refreshes neither duplicate the row nor ask again after a failure, even once the device
    // could answer.
    device.faults().clear();
    const size_t browsesBefore = emulator().log().count("installation_proxy", "Browse");
    for (int i = 0; i < 3; ++i) {
        m_deviceManager->connectedDevices =
            QList<iOSDevice>{record(udid, QStringLiteral("Studio iPhone"), 50 + i)};
        m_sidebar->refreshDevicesSection();
        settle();
    }
    QCOMPARE(titles(item({"DEVICES", "Studio iPhone"})->children()), children);
    QCOMPARE(logs.messages(LogCapture::category(QStringLiteral("ui")))
                 .filter(QStringLiteral("Tavolet check failed for ") + udid)
                 .isEmpty(),
             !browseFails);
    if (installed && !browseFails)
        QCOMPARE(item({"DEVICES", "Studio iPhone", "Recordings"})->url()->absoluteString(),
                 afc(udid, QStringLiteral("/.app/io.halvorn.tavolet/Documents/Recordings")).absoluteString());
    // Each refresh opens a new Apps row, which lists its apps; only a device without the app
    // is checked again besides.
    const size_t browses = emulator().log().count("installation_proxy", "Browse") - browsesBefore;
    QCOMPARE(browses, size_t(installed ? 3 : 6));
}

void tst_SidebarViewController::recentTitles_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("tooltip"); // of a folder row at that location

    const auto device = [](const QString& host, const QString& path) {
        return afc(host, path).absoluteString();
    };
    QTest::newRow("device root") << device(udid, "/") << "iPhone 14"
                                 << "iPhone 14";
    QTest::newRow("absent device") << device(otherUdid, "/") << "Device" << otherUdid;
    QTest::newRow("two levels") << device(udid, "/DCIM/100APPLE") << "DCIM/100APPLE"
                                << "iPhone 14/DCIM/100APPLE";
    QTest::newRow("three levels") << device(udid, "/DCIM/100APPLE/Edits") << "../100APPLE/Edits"
                                  << "iPhone 14/DCIM/100APPLE/Edits";
    QTest::newRow("trailing slash on device") << device(udid, "/DCIM/") << "DCIM"
                                              << "iPhone 14/DCIM";
    QTest::newRow("computer folder") << "file:///home/ada/Music"
                                     << "Music"
                                     << "";
    QTest::newRow("computer folder with slash") << "file:///home/ada/Music/"
                                                << "Music"
                                                << "";
    QTest::newRow("computer root") << "file:///"
                                   << "/"
                                   << "";
    QTest::newRow("encoded name") << "file:///srv/My%20Files"
                                  << "My Files"
                                  << "";
}

void tst_SidebarViewController::recentTitles() {
    QFETCH(QString, url);
    QFETCH(QString, title);
    QFETCH(QString, tooltip);
    // A device without a name goes by its model.
    m_deviceManager->connectedDevices = QList<iOSDevice>{record(udid, QString())};
    m_navigation->addRecentPath(*URL::fromString(url));
    makeController();
    QCOMPARE(m_sidebar->displayName(*URL::fromString(url)), title);
    QCOMPARE(m_sidebar->deviceTitle(*URL::fromString(url)).value_or(QString()), tooltip);
    if (const QModelIndex row = find({"RECENT", title}); row.isValid())
        QCOMPARE(row.data(Qt::ToolTipRole).toString(), tooltip);
}

// A recent device folder is named by its device whenever the device is known: once it comes,
// and while it is away after it was seen.
void tst_SidebarViewController::recentDeviceRowsFollowTheDevice() {
    m_navigation->addRecentPath(afc(udid, QStringLiteral("/")));
    m_navigation->addRecentPath(afc(udid, QStringLiteral("/DCIM/100APPLE")));
    makeController();
    QVERIFY(find({"RECENT", "Device"}).isValid());
    QCOMPARE(find({"RECENT", "DCIM/100APPLE"}).data(Qt::ToolTipRole).toString(), udid + "/DCIM/100APPLE");
    m_deviceManager->connectedDevices = QList<iOSDevice>{record(udid, QStringLiteral("Studio iPhone"))};
    settle();
    QVERIFY(find({"RECENT", "Studio iPhone"}).isValid());
    QVERIFY(!find({"RECENT", "Device"}).isValid());
    QCOMPARE(find({"RECENT", "DCIM/100APPLE"}).data(Qt::ToolTipRole).toString(),
             QStringLiteral("Studio iPhone/DCIM/100APPLE"));
    // Unplugged, and another folder visited: the section is built again without the device.
    m_deviceManager->connectedDevices = QList<iOSDevice>{};
    settle();
    m_navigation->addRecentPath(URL::fileURL(QStringLiteral("/srv/music"), true));
    settle();
    QVERIFY(find({"RECENT", "music"}).isValid());
    QVERIFY(find({"RECENT", "Studio iPhone"}).isValid());
    QCOMPARE(find({"RECENT", "DCIM/100APPLE"}).data(Qt::ToolTipRole).toString(),
             QStringLiteral("Studio iPhone/DCIM/100APPLE"));
    // Back under another name: the new one.
    m_deviceManager->connectedDevices = QList<iOSDevice>{record(udid, QStringLiteral("Ada's iPhone"))};
    settle();
    QVERIFY(find({"RECENT", "Ada's iPhone"}).isValid());
}

void tst_SidebarViewController::rowLook_data() {
    QTest::addColumn<QStringList>("row");
    QTest::addColumn<int>("height");
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<int>("fontPixels");
    QTest::addColumn<int>("depth");
    QTest::addColumn<QString>("location"); // where a click leads; "" for rows that cannot be chosen

    QTest::newRow("header") << QStringList{"DEVICES"} << 24 << "" << 11 << 0 << "";
    QTest::newRow("location") << QStringList{"LOCATIONS", "Home"} << 26 << "folder" << 13 << 1 << "<home>";
    QTest::newRow("device") << QStringList{"DEVICES", "Studio iPhone"} << 26 << "iphone" << 13 << 1
                            << afc(udid, "/").absoluteString();
    QTest::newRow("apps") << QStringList{"DEVICES", "Studio iPhone", "Apps"} << 26 << "square.grid.2x2" << 13
                          << 2 << "";
    // A favourite is no Photos row, whatever its title: no step into a camera folder.
    QTest::newRow("favourite titled Photos") << QStringList{"FAVORITES", "Photos"} << 26 << "star.fill" << 13
                                             << 1 << afc(udid, "/DCIM").absoluteString();
}

void tst_SidebarViewController::rowLook() {
    QFETCH(QStringList, row);
    QFETCH(int, height);
    QFETCH(QString, symbol);
    QFETCH(int, fontPixels);
    QFETCH(int, depth);
    QFETCH(QString, location);

    touch(mediaRoot(udid) + QStringLiteral("/DCIM/100APPLE"), true);
    plug(udid);
    m_deviceManager->connectedDevices = QList<iOSDevice>{record(udid, QStringLiteral("Studio iPhone"))};
    m_favorites->add(QStringLiteral("Photos"), afc(udid, QStringLiteral("/DCIM")),
                     QStringLiteral("folder.fill"));
    makeController();
    const QModelIndex index = find(row);
    QVERIFY(index.isValid());
    QTreeView* view = m_sidebar->outlineView();
    QCOMPARE(view->visualRect(index).height(), height);
    QCOMPARE(index.data(SidebarModel::SymbolNameRole).toString(), symbol);
    QCOMPARE(index.data(Qt::FontRole).value<QFont>().pixelSize(), fontPixels);
    QCOMPARE(bool(index.flags() & Qt::ItemIsSelectable), !location.isEmpty());
    QCOMPARE(view->visualRect(index).left() - view->visualRect(find({row.first()})).left(), depth * 14);

    click(row);
    settle();
    const QString home = m_sidebar->rootItems().front()->children().front()->url()->absoluteString();
    QCOMPARE(m_navigation->currentPath.value() ? m_navigation->currentPath.value()->absoluteString()
                                               : QString(),
             location.replace(QStringLiteral("<home>"), home));
    QCOMPARE(m_provider->listings, 0);
}

void tst_SidebarViewController::photosStepsIntoNewestCameraFolder_data() {
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("recentRow"); // empty: the device's Photos row
    QTest::addColumn<QString>("landing");

    QTest::newRow("newest of three") << QStringList{"100APPLE", "101APPLE", "102APPLE"} << QStringList() << ""
                                     << "/DCIM/102APPLE";
    QTest::newRow("names that only look alike")
        << QStringList{"100APPLE", "100CANON", "1000APPLE", "100apple", "999APPLEX"} << QStringList() << ""
        << "/DCIM/100APPLE";
    QTest::newRow("a file named like a folder") << QStringList{"101APPLE"} << QStringList{"103APPLE"} << ""
                                                << "/DCIM/101APPLE";
    QTest::newRow("no camera folder") << QStringList{"100CANON"} << QStringList() << ""
                                      << "/DCIM";
    QTest::newRow("recent row titled Photos") << QStringList{"105APPLE"} << QStringList() << "Photos"
                                              << "/Photos/105APPLE";
}

void tst_SidebarViewController::photosStepsIntoNewestCameraFolder() {
    QFETCH(QStringList, folders);
    QFETCH(QStringList, files);
    QFETCH(QString, recentRow);
    QFETCH(QString, landing);

    const QString base = recentRow.isEmpty() ? QStringLiteral("/DCIM") : QStringLiteral("/Photos");
    for (const QString& folder : folders)
        touch(mediaRoot(udid) + base + QLatin1Char('/') + folder, true);
    for (const QString& file : files)
        touch(mediaRoot(udid) + base + QLatin1Char('/') + file, false);
    plug(udid);
    m_deviceManager->connectedDevices = QList<iOSDevice>{record(udid, QStringLiteral("Studio iPhone"))};
    if (!recentRow.isEmpty())
        m_navigation->addRecentPath(afc(udid, base));
    makeController();

    click(recentRow.isEmpty() ? QStringList{"DEVICES", "Studio iPhone", "Photos"}
                              : QStringList{"RECENT", recentRow});
    settle();
    QCOMPARE(m_navigation->currentPath.value()->path(), landing);
    // DCIM first, then the camera folder: both in the history.
    const int expectedBack = landing == base ? 0 : 1;
    QCOMPARE(m_navigation->backStack().size(), expectedBack);
    if (expectedBack)
        QCOMPARE(m_navigation->backStack().last().path(), base);
}

void tst_SidebarViewController::photosStepWaitsForNobody_data() {
    QTest::addColumn<bool>("failListing");
    QTest::addColumn<bool>("navigateAway");

    QTest::newRow("user went elsewhere") << false << true;
    QTest::newRow("listing fails") << true << false;
}

void tst_SidebarViewController::photosStepWaitsForNobody() {
    QFETCH(bool, failListing);
    QFETCH(bool, navigateAway);

    touch(mediaRoot(udid) + QStringLiteral("/DCIM/100APPLE"), true);
    plug(udid);
    m_deviceManager->connectedDevices = QList<iOSDevice>{record(udid, QStringLiteral("Studio iPhone"))};
    makeController();
    LogCapture logs;
    m_provider->failNext = failListing;
    m_provider->holdNext = !failListing;
    click({"DEVICES", "Studio iPhone", "Photos"});
    QCoreApplication::processEvents();
    const URL elsewhere = URL::fileURL(QStringLiteral("/srv/elsewhere"), true);
    if (navigateAway)
        m_navigation->navigate(elsewhere);
    if (m_provider->gate) {
        m_provider->gate->resume();
        m_provider->gate.reset();
    }
    settle();
    QCOMPARE(*m_navigation->currentPath.value(),
             navigateAway ? elsewhere : afc(udid, QStringLiteral("/DCIM")));
    QCOMPARE(logs.messages(LogCapture::category(QStringLiteral("ui")))
                 .filter(QStringLiteral("Failed to auto-navigate Photos: "))
                 .size(),
             failListing ? 1 : 0);
}

void tst_SidebarViewController::appsAreListedOnceAndRetriedAfterFailure() {
    fakemux::VirtualDevice& device = plug(udid);
    device.faults().setBrowseError("InstallProxyFailed", "lost");
    m_deviceManager->connectedDevices = QList<iOSDevice>{record(udid, QStringLiteral("Studio iPhone"))};
    LogCapture logs;
    makeController();
    QTreeView* view = m_sidebar->outlineView();
    const QStringList apps{"DEVICES", "Studio iPhone", "Apps"};

    // Opening fails: logged, the row stays empty, and further layouts do not ask again.
    view->collapse(find(apps));
    view->expand(find(apps));
    settle();
    QVERIFY(item(apps)->children().empty());
    QVERIFY(logs.messages(LogCapture::category(QStringLiteral("ui")))
                .filter(QStringLiteral("Failed to list apps: "))
                .size() >= 1);
    const size_t browses = emulator().log().count("installation_proxy", "Browse");
    view->expand(find(apps));
    view->doItemsLayout();
    settle();
    QCOMPARE(emulator().log().count("installation_proxy", "Browse"), browses);

    // Closing and opening again retries.
    device.faults().clear();
    view->collapse(find(apps));
    view->expand(find(apps));
    settle();
    QCOMPARE(titles(item(apps)->children()), QStringList{"Notes"});
    QVERIFY(view->isExpanded(find(apps)));
    QCOMPARE(item(apps + QStringList{"Notes"})->url()->absoluteString(),
             afc(udid, QStringLiteral("/.app/com.example.notes/")).absoluteString());

    // Listed once: opening it again asks nothing.
    const size_t listed = emulator().log().count("installation_proxy", "Browse");
    view->collapse(find(apps));
    view->expand(find(apps));
    settle();
    QCOMPARE(emulator().log().count("installation_proxy", "Browse"), listed);
}

void tst_SidebarViewController::rebuildNeverNavigates() {
    plug(udid);
    makeController();
    click({"DEVICES", "No devices"});
    settle();
    // The click made one history entry; the RECENT section it caused, and later rebuilds of
    // every section, navigate nowhere.
    QCOMPARE(m_navigation->backStack().size(), 0);
    const URL home = *m_navigation->currentPath.value();
    QCOMPARE(home.absoluteString(), QStringLiteral("file:///"));
    click({"LOCATIONS", "Desktop"});
    settle();
    QCOMPARE(m_navigation->backStack(), QList<URL>{home});
    const URL desktop = *m_navigation->currentPath.value();
    // The clicked row stays selected through the RECENT section's rebuild.
    QVERIFY(m_sidebar->outlineView()->selectionModel()->isSelected(find({"LOCATIONS", "Desktop"})));

    click({"LOCATIONS", "Documents"});
    m_deviceManager->connectedDevices = QList<iOSDevice>{record(udid, QStringLiteral("Studio iPhone"))};
    m_favorites->add(QStringLiteral("Music"), URL::fileURL(QStringLiteral("/srv/music"), true),
                     QStringLiteral("folder.fill"));
    m_sidebar->reloadAll();
    settle();
    QCOMPARE(m_navigation->backStack(), (QList<URL>{home, desktop}));
    QCOMPARE(m_navigation->recentPaths.value().size(), 3);
}

void tst_SidebarViewController::favouritesMenu() {
    m_favorites->add(QStringLiteral("Music"), URL::fileURL(QStringLiteral("/srv/music"), true),
                     QStringLiteral("folder.fill"));
    makeController();

    QVERIFY(!m_sidebar->makeContextMenu(find({"DEVICES", "No devices"})));
    QVERIFY(!m_sidebar->makeContextMenu(find({"LOCATIONS"})));

    std::unique_ptr<QMenu> add(m_sidebar->makeContextMenu(find({"LOCATIONS", "Documents"})));
    QVERIFY(add);
    QCOMPARE(add->actions().size(), 1);
    QCOMPARE(add->actions().first()->text(), QStringLiteral("Add to Sidebar"));
    add->actions().first()->trigger();
    settle();
    QCOMPARE(titles(item({"FAVORITES"})->children()), (QStringList{"Music", "Documents"}));
    QCOMPARE(m_favorites->favorites.value().last().symbolName, QStringLiteral("folder.fill"));
    // The same folder twice is one favourite.
    std::unique_ptr<QMenu> again(m_sidebar->makeContextMenu(find({"LOCATIONS", "Documents"})));
    again->actions().first()->trigger();
    settle();
    QCOMPARE(m_favorites->favorites.value().size(), 2);

    std::unique_ptr<QMenu> remove(m_sidebar->makeContextMenu(find({"FAVORITES", "Music"})));
    QVERIFY(remove);
    QCOMPARE(remove->actions().first()->text(), QStringLiteral("Remove from Sidebar"));
    remove->actions().first()->trigger();
    settle();
    QCOMPARE(titles(item({"FAVORITES"})->children()), QStringList{"Documents"});
    // Stored, not only shown.
    FavoritesManager reread(FavoritesManager::defaultKey, m_defaults->store());
    QCOMPARE(reread.favorites.value().size(), 1);
}

// A right press on a row that is not the current folder neither selects it nor navigates; the
// menu it opens adds that row, not the current one.
void tst_SidebarViewController::rightPressOnlyOpensTheMenu() {
    const QString music = scratchPath(QStringLiteral("Music"));
    const QString films = scratchPath(QStringLiteral("Films"));
    QVERIFY(QDir().mkpath(music) && QDir().mkpath(films));
    m_navigation->addRecentPath(URL::fileURL(films, true));
    m_navigation->addRecentPath(URL::fileURL(music, true));
    makeController();
    click({"RECENT", "Music"});
    settle();
    const std::optional<URL> current = m_navigation->currentPath.value();
    QCOMPARE(current, std::optional<URL>(URL::fileURL(music, true)));
    const QList<URL> recent = m_navigation->recentPaths.value();

    const QModelIndex row = find({"RECENT", "Films"});
    QVERIFY(row.isValid());
    QTreeView* view = m_sidebar->outlineView();
    const QPoint point = view->visualRect(row).center();
    QTest::mousePress(view->viewport(), Qt::RightButton, {}, point);
    QTest::mouseRelease(view->viewport(), Qt::RightButton, {}, point);
    settle();
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    QCOMPARE(m_navigation->currentPath.value(), current);
    QCOMPARE(m_navigation->recentPaths.value(), recent);
    QVERIFY(!view->selectionModel()->isSelected(find({"RECENT", "Films"})));

    std::unique_ptr<QMenu> menu(m_sidebar->makeContextMenu(find({"RECENT", "Films"})));
    QVERIFY(menu);
    QCOMPARE(menu->actions().first()->data().toList().value(0).toString(), QStringLiteral("Films"));
    // A left click still navigates.
    click({"RECENT", "Films"});
    settle();
    QCOMPARE(m_navigation->currentPath.value(), std::optional<URL>(URL::fileURL(films, true)));
}

void tst_SidebarViewController::onlyPlacesThatAreThere_data() {
    QTest::addColumn<QStringList>("folders"); // in the home, besides the usual three
    QTest::addColumn<QStringList>("removed"); // of the usual three
    QTest::addColumn<QString>("userDirs");    // the user's folder settings
    QTest::addColumn<QStringList>("expected"); // title=folder below the home

    const QStringList usual{"Home=", "Desktop=Desktop", "Documents=Documents", "Downloads=Downloads"};
    QTest::newRow("all there") << QStringList() << QStringList() << QString() << usual;
    QTest::newRow("no desktop folder")
        << QStringList() << QStringList{"Desktop"} << QString()
        << QStringList{"Home=", "Documents=Documents", "Downloads=Downloads"};
    QTest::newRow("the settings move documents")
        << QStringList{"Papers"} << QStringList() << QStringLiteral("XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n")
        << QStringList{"Home=", "Desktop=Desktop", "Documents=Papers", "Downloads=Downloads"};
    QTest::newRow("the settings name a folder that is missing")
        << QStringList() << QStringList() << QStringLiteral("XDG_DOWNLOAD_DIR=\"$HOME/Gone\"\n")
        << QStringList{"Home=", "Desktop=Desktop", "Documents=Documents"};
    QTest::newRow("the settings turn the desktop off")
        << QStringList() << QStringList() << QStringLiteral("XDG_DESKTOP_DIR=\"$HOME/\"\n")
        << QStringList{"Home=", "Documents=Documents", "Downloads=Downloads"};
}

// A place offered in the sidebar is a folder that exists, where the user's folder settings say
// it is; clicking one never ends in "Could not list".
void tst_SidebarViewController::onlyPlacesThatAreThere() {
    QFETCH(QStringList, folders);
    QFETCH(QStringList, removed);
    QFETCH(QString, userDirs);
    QFETCH(QStringList, expected);
    QTemporaryDir home;
    QDir root(home.path());
    for (const QString& folder : QStringList{"Desktop", "Documents", "Downloads", ".config"} + folders) {
        if (!removed.contains(folder))
            QVERIFY(root.mkpath(folder));
    }
    QFile settings(root.filePath(QStringLiteral(".config/user-dirs.dirs")));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(userDirs.toUtf8());
    settings.close();
    struct HomeBack {
        QString path;
        ~HomeBack() {
            qputenv("HOME", path.toUtf8());
            qputenv("XDG_CONFIG_HOME", QDir(path).filePath(QStringLiteral(".config")).toUtf8());
        }
    } back{m_home.path()};
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", root.filePath(QStringLiteral(".config")).toUtf8());

    makeController();
    QStringList shown;
    for (const auto& row : item({"LOCATIONS"})->children()) {
        const QString below = root.relativeFilePath(row->url()->path());
        shown << row->title() + QLatin1Char('=') + (below == u"." ? QString() : below);
    }
    QCOMPARE(shown, expected);
}

// The row of the folder shown is the selected one, whatever rebuilt the sections and however the
// folder came to be shown; clicking it again goes nowhere.
void tst_SidebarViewController::theShownRowStaysSelected() {
    touch(mediaRoot(udid) + QStringLiteral("/DCIM/101APPLE"), true);
    plug(udid);
    m_deviceManager->connectedDevices = QList<iOSDevice>{record(udid, QStringLiteral("Studio iPhone"))};
    makeController();
    QTreeView* view = m_sidebar->outlineView();
    const auto selected = [view, this] {
        const QModelIndexList rows = view->selectionModel()->selectedRows();
        QStringList titles;
        for (QModelIndex row = rows.value(0); row.isValid(); row = row.parent())
            titles.prepend(row.data().toString());
        return titles.join(u'/');
    };

    click({"LOCATIONS", "Desktop"});
    settle();
    QCOMPARE(selected(), QStringLiteral("LOCATIONS/Desktop"));
    const URL desktop = *m_navigation->currentPath.value();
    const qsizetype history = m_navigation->backStack().size();
    click({"LOCATIONS", "Desktop"});
    settle();
    QCOMPARE(m_navigation->backStack().size(), history);
    QCOMPARE(m_navigation->currentPath.value(), std::optional<URL>(desktop));

    // Other sections rebuilt: the row stays.
    m_favorites->add(QStringLiteral("Music"), URL::fileURL(QStringLiteral("/srv/music"), true),
                     QStringLiteral("folder.fill"));
    settle();
    QCOMPARE(selected(), QStringLiteral("LOCATIONS/Desktop"));

    // Shown by other means (the path bar, the history): that folder's row.
    m_navigation->navigate(*item({"LOCATIONS", "Documents"})->url());
    settle();
    QCOMPARE(selected(), QStringLiteral("LOCATIONS/Documents"));
    m_navigation->goBack();
    settle();
    QCOMPARE(selected(), QStringLiteral("LOCATIONS/Desktop"));

    // A folder that RECENT lists too: the row of its own section.
    m_navigation->navigate(afc(udid, QStringLiteral("/")));
    settle();
    QVERIFY(find({"RECENT", "Studio iPhone"}).isValid());
    QCOMPARE(selected(), QStringLiteral("DEVICES/Studio iPhone"));

    // Photos stays selected on the camera folder it stepped into.
    click({"DEVICES", "Studio iPhone", "Photos"});
    settle();
    QCOMPARE(m_navigation->currentPath.value()->path(), QStringLiteral("/DCIM/101APPLE"));
    QCOMPARE(selected(), QStringLiteral("DEVICES/Studio iPhone/Photos"));
}

namespace {

// The delegate's style option of a row, as the view would draw it.
class DelegateProbe : public SidebarItemDelegate {
public:
    using SidebarItemDelegate::SidebarItemDelegate;
    using SidebarItemDelegate::initStyleOption;
};

// The colour of the symbol's opaque pixels.
QColor symbolColour(const QStyleOptionViewItem& option) {
    const QImage image = option.icon.pixmap(SidebarModel::iconSize).toImage();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).alpha() == 255)
                return image.pixelColor(x, y);
    return {};
}

} // namespace

// The symbol is tinted with the accent colour, which is also the selection's highlight: on the
// selected row it takes the highlighted text's colour, or it would vanish.
void tst_SidebarViewController::selectedRowSymbolStaysVisible() {
    makeController();
    QTreeView* view = m_sidebar->outlineView();
    const QModelIndex row = find({"LOCATIONS", "Home"});
    DelegateProbe probe;
    QStyleOptionViewItem option;
    option.initFrom(view);
    probe.initStyleOption(&option, row);
    QCOMPARE(symbolColour(option).rgb(), Colours::accent(view->palette()).rgb());
    option = QStyleOptionViewItem();
    option.initFrom(view);
    option.state |= QStyle::State_Selected;
    probe.initStyleOption(&option, row);
    QCOMPARE(symbolColour(option).rgb(), view->palette().color(QPalette::HighlightedText).rgb());
}

ORVANTA_WIDGET_DEVICE_TEST_MAIN(tst_SidebarViewController)
#include "tst_SidebarViewController.moc"
