// A phone that comes back, and a phone that goes silent, measured in one run against the
// emulator with the application's own pieces: the device manager scanning every two seconds,
// its bridge, and the file-system provider over it.
//
//     device_return
//
// replug: the device is pulled and put back at once, faster than any scan; the time from the
// replug to the first listing of its folder through the provider that succeeds (the provider
// tries every 10 ms). Target 2.5 s at most: a scan interval and a reconnect.
// shutdown: a copy waits on a read the device never answers; the time from stopping monitoring
// and destroying the manager and its bridge until the bridge's sessions are closed (its worker
// cuts the silent connection). Target 1,000 ms at most.
// cancel: a transfer to this computer waits on a read the device never answers; the time from
// Cancel to its cancelled record. Target 1,000 ms at most.
// max_stall: the longest the main thread went without serving its event loop meanwhile. Target
// 50 ms at most. The last line holds the figures for scripts to read.

#include "BenchSupport.h"
#include "device/AFCBridge.h"
#include "device/AFCLocation.h"
#include "device/DeviceManager.h"
#include "device/IMobileDeviceBridge.h"
#include "device/ProcessRunner.h"
#include "emulator/Emulator.h"
#include "models/FileItem.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/async/RunSync.h"
#include "platform/async/SystemContinuousClock.h"
#include "platform/async/TaskHandle.h"
#include "services/FileSystemProvider.h"
#include "services/PreferencesViewController.h"
#include "transfer/TransferManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>

namespace {

const QString udid = QStringLiteral("00008110-00BE4C4B00000003");

// Serves the main loop until done() holds; throws after limit, so a broken build ends the run.
void runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit, const char* what) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limit.count())
            throw std::runtime_error(std::string("gave up waiting for ") + what);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

int run(int argc, char** argv, const std::filesystem::path& work) {
    if (argc > 1)
        throw std::runtime_error("usage: device_return");
    const std::filesystem::path media = work / "media";
    std::filesystem::create_directories(media / "DCIM");
    bench::makeFile(media / "DCIM" / "IMG_0001.JPG", 4096, "jpeg", 4);
    bench::makeFile(media / "DCIM" / "clip.mov", 8 << 20, "clip", 4);
    // Before any thread: the journal of what copies leave behind must not be the user's.
    ::setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
    UserDefaults::setStandardFilePathForTesting(QString::fromStdString((work / "defaults.plist").string()));
    const auto emulator = bench::startEmulator(udid.toStdString(), media);

    QCoreApplication app(argc, argv);
    bench::quietLogging();
    auto manager = std::make_unique<DeviceManager>(
        std::make_shared<IMobileDeviceBridge>(std::make_shared<ProcessRunner>()));
    auto provider = std::make_unique<FileSystemProvider>(manager->afcBridge());
    const URL folder = AFCLocation::mediaURL(udid, QStringLiteral("/DCIM"));
    manager->startMonitoring();
    runUntil([&] { return manager->afcBridge()->isConnected(udid); }, std::chrono::seconds(20),
             "the device to be connected");
    const auto listingWorks = [&] {
        provider->invalidateCache();
        try {
            return !async::runSync(provider->listDirectory(folder)).isEmpty();
        } catch (...) {
            return false;
        }
    };
    if (!listingWorks())
        throw std::runtime_error("the first listing failed");

    bench::StallWatch stalls;
    stalls.start();
    QElapsedTimer replug;
    emulator->replug(udid.toStdString());
    replug.start();
    while (!listingWorks()) {
        if (replug.elapsed() > 20000)
            throw std::runtime_error("the replugged device never listed again");
        QElapsedTimer pause;
        pause.start();
        while (pause.elapsed() < 10)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const double replugMs = double(replug.nsecsElapsed()) / 1e6;

    // A transfer that waits on a read the device holds, cancelled.
    fakemux::VirtualDevice* device = emulator->device(udid.toStdString());
    device->faults().gateReads(1 << 20);
    NotificationCenter notifications;
    double cancelMs = 0;
    {
        TransferManager transfers(PreferencesViewController::defaults(), async::SystemContinuousClock::shared(),
                                  notifications);
        transfers.setAFCBridge(manager->afcBridge());
        const URL clip = AFCLocation::mediaURL(udid, QStringLiteral("/DCIM/clip.mov"));
        const FileItem item(clip.absoluteString(), clip.lastPathComponent(), clip, false, 8 << 20, Date::now(),
                            FileKind::video, std::nullopt);
        std::filesystem::create_directories(work / "cancelled");
        const Transfer transfer = transfers.startTransfer(
            QList<FileItem>{item}, URL::fileURL(QString::fromStdString((work / "cancelled").string()), true));
        transfers.launchTask(transfer);
        runUntil([&] { return device->faults().waitUntilReadHeld(std::chrono::milliseconds(1)); },
                 std::chrono::seconds(20), "the transfer's read to be held");
        QElapsedTimer cancelling;
        cancelling.start();
        transfers.cancelTransfer(transfer.id);
        runUntil([&] { return !transfers.completedTransfers.value().isEmpty(); }, std::chrono::seconds(60),
                 "the cancelled record");
        cancelMs = double(cancelling.nsecsElapsed()) / 1e6;
    }
    // The cut connection is opened again by the next scan.
    device->faults().releaseReads();
    runUntil([&] { return manager->afcBridge()->isConnected(udid); }, std::chrono::seconds(20),
             "the device to be connected again");
    device->faults().gateReads(1 << 20);

    // A copy that waits on a read the device holds for good.
    const std::filesystem::path target = work / "clip.mov";
    std::optional<async::Task<quint64>> copy;
    copy.emplace(manager->afcBridge()->download(udid, QStringLiteral("/DCIM/clip.mov"),
                                                URL::fileURL(QString::fromStdString(target.string())),
                                                std::nullopt, {}));
    runUntil([&] { return device->faults().waitUntilReadHeld(std::chrono::milliseconds(1)); },
             std::chrono::seconds(20), "the read to be held");

    QElapsedTimer shutdown;
    shutdown.start();
    const async::TaskHandle<void> monitoring = manager->monitoringTask();
    manager->stopMonitoring();
    runUntil([&] { return monitoring.isFinished(); }, std::chrono::seconds(5), "the monitoring to end");
    provider.reset();
    manager.reset();
    // Until the bridge's sessions are really closed, not only until its owner let it go.
    runUntil([] { return AFCBridge::waitForRetiredBridges(std::chrono::milliseconds(0)); },
             std::chrono::seconds(20), "the bridge to close");
    const double shutdownMs = double(shutdown.nsecsElapsed()) / 1e6;
    try {
        async::runSync(std::move(*copy), std::chrono::seconds(5));
    } catch (...) {
        // Cancelled with its bridge: what is expected.
    }
    stalls.stop();
    device->faults().releaseReads();

    std::printf("replug to a working listing: %.1f ms (target <= 2500)\n", replugMs);
    std::printf("silent device to destroyed bridge: %.1f ms (target <= 1000)\n", shutdownMs);
    std::printf("cancel of a copy from the silent device: %.1f ms (target <= 1000)\n", cancelMs);
    std::printf("longest main-thread stall: %.1f ms (target <= 50)\n", stalls.longestMs());
    std::printf("device_return replug_ms=%.0f shutdown_ms=%.0f max_stall_ms=%.0f cancel_ms=%.0f\n", replugMs,
                shutdownMs, stalls.longestMs(), cancelMs);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::runInWorkFolder("device_return", "/dev/shm", "orvanta-bench", argc, argv, run);
}
