// The window and the devices: the names a device goes by, what a change of the device list
// does (the empty state or the browser, the cache of what is no longer known to be there, the
// first device's root) and the copy of a newly seen device's camera roll when auto-ingest is on.

#include "app/MainWindowController.h"

#include "browser/BrowserContainerController.h"
#include "device/DeviceManager.h"
#include "platform/DateFormat.h"
#include "platform/Logger.h"
#include "platform/async/AsyncLog.h"
#include "platform/async/Cancellation.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"
#include "services/PreferencesViewController.h"
#include "transfer/TransferManager.h"

#include <QDate>

#include <filesystem>
#include <system_error>

namespace {

// The folder tasks a controller started: they hold it weakly and do nothing once it is gone.
async::Task<void> runAutoIngest(QPointer<MainWindowController> controller,
                                std::shared_ptr<FileSystemProvider> provider,
                                TransferManager* transferManager, iOSDevice device, URL url,
                                std::stop_token token) {
    QList<FileItem> items;
    std::exception_ptr failure;
    try {
        items = co_await provider->listDirectory(url);
    } catch (const async::CancelledError&) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    if (token.stop_requested() || !controller)
        co_return;
    if (failure) {
        Logger::transfer().error("Auto-ingest failed: %s", async::describeException(failure));
        co_return;
    }
    if (items.isEmpty())
        co_return;

    const URL destination = controller->autoIngestDestination(device);
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(destination.toLocalFile().toStdString()),
                                        error);
    if (error) {
        Logger::transfer().error("Auto-ingest failed: %s", QString::fromStdString(error.message()));
        co_return;
    }
    const Transfer transfer = transferManager->startTransfer(items, destination);
    transferManager->launchTask(transfer);
}

} // namespace

QString MainWindowController::displayName(const iOSDevice& device) {
    return device.name().isEmpty() ? device.model() : device.name();
}

QString MainWindowController::ingestFolderName(const iOSDevice& device) {
    const auto clean = [](QString name) {
        name.replace(u'/', u'-');
        name.replace(QChar(u'\0'), u'-');
        name = name.trimmed();
        return (name.isEmpty() || name == u"." || name == u"..") ? QString() : name;
    };
    if (QString name = clean(displayName(device)); !name.isEmpty())
        return name;
    if (QString model = clean(device.model()); !model.isEmpty())
        return model;
    return QStringLiteral("Device");
}

void MainWindowController::handleDevicesChanged(const QList<iOSDevice>& devices) {
    QSet<QString> udids;
    QSet<QString> reachable;
    for (const iOSDevice& device : devices) {
        udids.insert(device.udid());
        if (device.isAFCConnected())
            reachable.insert(device.udid());
    }
    const QSet<QString> newUDIDs = udids - m_knownDeviceUDIDs;
    // A device that came or went, or whose files became reachable or not (back locked, unlocked
    // since): what was listed from it before is no longer known to be there.
    const bool reachChanged = udids != m_knownDeviceUDIDs || reachable != m_reachableDeviceUDIDs;
    m_knownDeviceUDIDs = udids;
    m_reachableDeviceUDIDs = reachable;
    if (reachChanged)
        m_fileSystemProvider->invalidateCache();

    if (devices.isEmpty()) {
        Logger::ui().info("No devices connected — showing empty state");
        showEmptyState();
    } else {
        QStringList names;
        for (const iOSDevice& device : devices)
            names << displayName(device);
        Logger::ui().info("Devices connected: %s", names.join(QStringLiteral(", ")));
        showBrowser();
        // A folder of a device that has gone would be listed under another device's name, as a
        // connection failure: the first device's root is shown instead, as when it first came.
        const std::optional<URL>& current = m_navigationState->currentPath.value();
        if (!current || (current->scheme() == u"afc" && !udids.contains(current->host())))
            m_navigationState->navigate(
                URL::fromComponents(QStringLiteral("afc"), devices.first().udid(), "/"));
        // A browser that stayed through the change asks its folders again; a new one lists anyway.
        if (reachChanged && m_browserContainer)
            m_browserContainer->listAgain();
    }
    for (const QString& udid : newUDIDs) {
        for (const iOSDevice& device : devices) {
            if (device.udid() == udid) {
                startAutoIngest(device);
                break;
            }
        }
    }
}

URL MainWindowController::autoIngestDestination(const iOSDevice& device) const {
    URL destination = PreferencesViewController::autoIngestDestination();
    if (PreferencesViewController::autoIngestIncludeDeviceFolder())
        destination = destination.appendingPathComponent(ingestFolderName(device), true);
    if (PreferencesViewController::autoIngestIncludeDateFolder())
        destination = destination.appendingPathComponent(DateFormat::dayFolder(QDate::currentDate()), true);
    return destination;
}

void MainWindowController::startAutoIngest(const iOSDevice& device) {
    if (!PreferencesViewController::autoIngestEnabled())
        return;
    const URL url = URL::fromComponents(QStringLiteral("afc"), device.udid(), QStringLiteral("/DCIM"));
    QPointer<MainWindowController> self(this);
    auto provider = m_fileSystemProvider;
    TransferManager* transferManager = &m_transferManager;
    m_ingestTasks.removeIf([](const async::TaskHandle<void>& task) { return task.isFinished(); });
    m_ingestTasks.append(async::spawn([self, provider, transferManager, device, url](std::stop_token token) {
        return runAutoIngest(self, provider, transferManager, device, url, token);
    }));
}
