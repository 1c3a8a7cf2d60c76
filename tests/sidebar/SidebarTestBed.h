#pragma once

// What the sidebar's tests share: a temporary home with the usual places, the services the
// sidebar reads (the device manager against the emulator, navigation, favourites, a listing
// provider a test can hold back or fail), a manual timer source, and helpers to find and click
// rows by their titles.

#include "DeviceTestCase.h"
#include "TemporaryDefaults.h"
#include "device/AFCError.h"
#include "device/DeviceManager.h"
#include "device/IMobileDeviceBridge.h"
#include "device/ProcessRunner.h"
#include "platform/ManualUiTimerSource.h"
#include "platform/async/Continuation.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "services/FavoritesManager.h"
#include "services/FileSystemProvider.h"
#include "services/FolderWatcher.h"
#include "services/NavigationState.h"
#include "sidebar/SidebarModel.h"
#include "sidebar/SidebarViewController.h"

#include <QAbstractItemModelTester>
#include <QTemporaryDir>
#include <QTreeView>

namespace SidebarTesting {

inline const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");
inline const QString otherUdid = QStringLiteral("00008120-00AA2B3C4D5E6F71");

// Listings that a test can hold back or fail, counted.
class ScriptedProvider : public FileSystemProvider {
public:
    using FileSystemProvider::FileSystemProvider;
    int listings = 0;
    bool holdNext = false;
    bool failNext = false;
    std::optional<async::Continuation<void>> gate;

    async::Task<QList<FileItem>> listDirectory(URL at) override {
        ++listings;
        if (failNext) {
            failNext = false;
            throw AFCError::directoryListFailed(at.path());
        }
        if (holdNext) {
            holdNext = false;
            auto park = [this](async::Continuation<void> continuation) {
                gate = continuation;
            };
            co_await async::withContinuation<void>(park);
        }
        QList<FileItem> items = co_await FileSystemProvider::listDirectory(at);
        co_return items;
    }
};

inline iOSDevice record(const QString& id, const QString& name, std::optional<int> battery = 87) {
    return iOSDevice(id, id, name, QStringLiteral("iPhone 14"), QStringLiteral("iPhone15,2"),
                     QStringLiteral("17.4"), battery, true, false);
}

inline URL afc(const QString& host, const QString& path) {
    return URL::fromComponents(QStringLiteral("afc"), host, path);
}

inline QStringList titles(const std::vector<std::shared_ptr<SidebarItem>>& items) {
    QStringList result;
    for (const auto& item : items)
        result << item->title();
    return result;
}

inline void touch(const QString& path, bool folder) {
    if (folder) {
        QDir().mkpath(path);
        return;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("x");
}

} // namespace SidebarTesting

class SidebarTestBed : public DeviceTestCase {
protected:
    using ScriptedProvider = SidebarTesting::ScriptedProvider;

    // From the test's initTestCase, init and cleanup.
    void setUpHome() {
        QVERIFY(m_home.isValid());
        for (const char* place : {"Desktop", "Documents", "Downloads", ".config"})
            QVERIFY(QDir(m_home.path()).mkpath(place));
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral(".config")).toUtf8());
    }

    void setUpServices() {
        setUpTest();
        emulator().log().clear();
        m_defaults = std::make_unique<TemporaryDefaults>();
        m_deviceManager = std::make_unique<DeviceManager>(
            std::make_shared<IMobileDeviceBridge>(std::make_shared<ProcessRunner>()));
        m_navigation = std::make_unique<NavigationState>(m_defaults->store());
        m_favorites = std::make_unique<FavoritesManager>(FavoritesManager::defaultKey, m_defaults->store());
        m_provider = std::make_unique<ScriptedProvider>(*m_deviceManager->afcBridge(), m_clock);
    }

    void tearDownServices() {
        if (m_sidebar)
            settle();
        m_tester.reset();
        m_sidebar.reset();
        m_provider.reset();
        m_favorites.reset();
        m_navigation.reset();
        m_deviceManager.reset();
        m_defaults.reset();
        QCoreApplication::processEvents(); // what the bridge dropped ends its waiters
        tearDownTest();
    }

    void makeController() {
        m_sidebar = std::make_unique<SidebarViewController>(*m_deviceManager, *m_navigation, *m_favorites,
                                                            *m_provider, m_timers);
        m_tester = std::make_unique<QAbstractItemModelTester>(
            &m_sidebar->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        m_sidebar->resize(250, 600);
        m_sidebar->show();
        settle();
    }

    // Runs queued deliveries and waits for every task the sidebar started.
    void settle() {
        // A task may start another (a delivery that rebuilds a section), so wait until a few turns in
        // a row start nothing new.
        for (int quiet = 0; quiet < 3;) {
            QCoreApplication::processEvents();
            bool waited = false;
            for (const auto& task : m_sidebar->runningTasks()) {
                if (m_provider->gate)
                    continue; // a listing the test holds back on purpose
                async::runSync(task.result(), std::chrono::seconds(30));
                waited = true;
            }
            quiet = waited ? 0 : quiet + 1;
        }
        // The folders' watches are made on a thread of their own: a change made before they are
        // in place would go unseen.
        QTRY_VERIFY(m_sidebar->placesWatcher().isSettled());
    }

    QModelIndex find(const QStringList& path) const {
        const SidebarModel& model = m_sidebar->model();
        QModelIndex parent;
        for (const QString& title : path) {
            QModelIndex found;
            for (int row = 0; row < model.rowCount(parent); ++row) {
                const QModelIndex index = model.index(row, 0, parent);
                if (index.data().toString() == title) {
                    found = index;
                    break;
                }
            }
            if (!found.isValid())
                return {};
            parent = found;
        }
        return parent;
    }

    std::shared_ptr<SidebarItem> item(const QStringList& path) const {
        return m_sidebar->model().itemAt(find(path));
    }

    void click(const QStringList& path) {
        const QModelIndex index = find(path);
        QVERIFY2(index.isValid(), qPrintable(path.join(QLatin1Char('/'))));
        QTreeView* view = m_sidebar->outlineView();
        view->scrollTo(index);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
    }

    fakemux::VirtualDevice& plug(const QString& id, bool withRecordingApp = false) {
        fakemux::DeviceDescription description = describeDevice(id, QStringLiteral("Studio iPhone"));
        fakemux::AppDescription notes{"com.example.notes", std::string("Notes"), true, std::nullopt,
                                      scratchPath(QStringLiteral("notes-") + id).toStdString()};
        description.apps.push_back(notes);
        if (withRecordingApp) {
            const QString container = scratchPath(QStringLiteral("tavolet-") + id);
            QDir().mkpath(container + QStringLiteral("/Documents/Recordings"));
            description.apps.push_back(
                {"io.halvorn.tavolet", std::string("Tavolet"), true, std::nullopt, container.toStdString()});
        }
        return addDevice(description);
    }

    QString mediaRoot(const QString& id) { return scratchPath(QStringLiteral("media-") + id); }

    async::ManualClock m_clock;
    ManualUiTimerSource m_timers;
    std::unique_ptr<TemporaryDefaults> m_defaults;
    std::unique_ptr<DeviceManager> m_deviceManager;
    std::unique_ptr<NavigationState> m_navigation;
    std::unique_ptr<FavoritesManager> m_favorites;
    std::unique_ptr<ScriptedProvider> m_provider;
    std::unique_ptr<SidebarViewController> m_sidebar;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    // A home of the test's own with the usual places, so that none of the user's is looked at.
    QTemporaryDir m_home;
};
