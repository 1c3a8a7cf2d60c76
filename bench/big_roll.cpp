// A phone's camera roll of tens of thousands of small photos in one device folder, the ordinary
// case, walked as a user would in one run with the whole window on screen: the folder shown in
// the columns and in the list (time from the navigation to the listing shown), Select All and
// then a click elsewhere (the main thread's longest stall), and the copy of the whole folder to a
// computer folder through the transfer manager (files a second over the first and the last ten
// thousand files, the longest stall meanwhile, and the resident memory at the end). A 5 ms timer
// on the main thread measures the stalls: the longest gap between its ticks.
//
//     big_roll [files, default 50000]
//
// Offscreen, against the in-process device emulator, with every file on /dev/shm so that the disk
// does not set the pace; the emulator's record of requests is emptied as it goes, since it stands
// for the phone. The last line holds the figures.

#include "BenchArguments.h"
#include "BenchSupport.h"
#include "app/MainWindowController.h"
#include "browser/BrowserCommandHandling.h"
#include "browser/BrowserContainerController.h"
#include "browser/ColumnBrowserViewController.h"
#include "browser/ListBrowserViewController.h"
#include "device/AFCBridge.h"
#include "device/AFCLocation.h"
#include "device/DeviceManager.h"
#include "device/IMobileDeviceBridge.h"
#include "device/ProcessRunner.h"
#include "emulator/Emulator.h"
#include "platform/ArchivedURL.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/async/RunSync.h"
#include "platform/async/SystemContinuousClock.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"
#include "services/PreferencesViewController.h"
#include "transfer/TransferManager.h"
#include "uikit/AlertPresenter.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QTimer>

#include <algorithm>
#include <malloc.h>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace {

const QString udid = QStringLiteral("00008110-00BE4C4B0000002A");
constexpr auto noTimeLimit = std::chrono::hours(1);

QString photoName(size_t index) {
    return QStringLiteral("IMG_%1.JPG").arg(qulonglong(index), 6, 10, QLatin1Char('0'));
}

void spinUntil(const std::function<bool()>& done) {
    QElapsedTimer limit;
    limit.start();
    while (!done()) {
        if (limit.elapsed() > 1200000)
            throw std::runtime_error("gave up waiting for the window");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

// Lets every queued delivery of the last step run, so that the next step's clock holds only its
// own work.
void settle() {
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

double residentMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

// What the program's live objects take, without what the allocator keeps of freed memory.
double heapInUseMiB() {
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / 1048576.0;
}

class SilentAlertPresenter : public AlertPresenter {
public:
    async::Task<AlertResponse> ask(AlertRequest, QWidget*, std::stop_token) override {
        throw std::runtime_error("the bench was asked a question");
        co_return AlertResponse{};
    }
};

struct Shown {
    double ms = 0;
    double stallMs = 0;
    double busyMs = 0;
};

// From the navigation to the listing on screen, painted.
Shown showFolder(MainWindowController& controller, const URL& folder, const std::function<bool()>& shown,
                 QWidget* paint) {
    bench::StallWatch stalls;
    stalls.start();
    QElapsedTimer timer;
    timer.start();
    controller.navigationState().navigate(folder);
    spinUntil(shown);
    paint->repaint();
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    stalls.stop();
    return {ms, stalls.longestMs(), stalls.longestBusyMs()};
}

// Select All in the browser on screen, then a click on another place: the longest stall from
// the click until the other place is shown and everything it set off has run.
Shown leaveSelection(MainWindowController& controller, const URL& elsewhere, const std::function<bool()>& shown,
                     size_t count) {
    BrowserCommandHandling* browser = controller.currentBrowser();
    if (!browser)
        throw std::runtime_error("no browser on screen");
    browser->selectAllItems();
    settle();
    if (size_t(controller.navigationState().selectedItems.value().size()) != count)
        throw std::runtime_error("Select All selected " +
                                 std::to_string(controller.navigationState().selectedItems.value().size()));
    bench::StallWatch stalls;
    stalls.start();
    controller.navigationState().navigate(elsewhere);
    spinUntil(shown);
    settle();
    stalls.stop();
    if (!controller.navigationState().selectedItems.value().isEmpty())
        throw std::runtime_error("the selection outlived the click");
    return {0, stalls.longestMs(), stalls.longestBusyMs()};
}

int run(int argc, char** argv, const std::filesystem::path& work) {
    const std::optional<uint64_t> files =
        argc > 1 ? bench::parseCount("big_roll", "files", argv[1], 1000000) : 50000;
    if (!files || argc > 2)
        throw std::runtime_error("usage: big_roll [files]");
    const size_t count = *files;
    // The first and the last ten thousand of a full roll; a fifth each of a smaller one.
    const size_t paceWindow = std::min<size_t>(10000, count / 5);
    if (paceWindow == 0)
        throw std::runtime_error("big_roll needs at least 5 files");
    // Photos of 2 to 6 KB, their copies, and room to spare.
    if (!bench::roomFor("big_roll", work, count * 16384))
        return 2;

    const std::filesystem::path media = work / "media";
    const std::filesystem::path roll = media / "DCIM" / "100APPLE";
    std::filesystem::create_directories(roll);
    static const char pattern[] = "big roll photo bytes ";
    for (size_t index = 0; index < count; ++index)
        bench::makeFile(roll / photoName(index).toStdString(), 2048 + (index * 97) % 4096, pattern,
                        sizeof pattern - 1);
    const auto emulator = bench::startEmulator(udid.toStdString(), media);
    bench::keepApplicationDataIn(work);

    QApplication app(argc, argv);
    bench::quietLogging();
    UserDefaults& defaults = PreferencesViewController::defaults();
    NotificationCenter notifications;
    DeviceManager deviceManager(std::make_shared<IMobileDeviceBridge>(std::make_shared<ProcessRunner>()));
    // The device is there before the window, as when a user opens it with the phone plugged in.
    async::runSync(deviceManager.scanForDevices(), noTimeLimit);
    if (deviceManager.connectedDevices.value().isEmpty())
        throw std::runtime_error("the scan found no device");
    auto transfers =
        std::make_shared<TransferManager>(defaults, async::SystemContinuousClock::shared(), notifications);
    MainWindowController controller(deviceManager, transfers, std::make_shared<SilentAlertPresenter>());
    controller.window()->resize(1100, 700);
    controller.window()->show();
    settle();
    emulator->log().clear();
    const double rssBefore = residentMiB();
    const double heapBefore = heapInUseMiB();

    const URL dcim = AFCLocation::mediaURL(udid, QStringLiteral("/DCIM"));
    const URL folder = AFCLocation::mediaURL(udid, QStringLiteral("/DCIM/100APPLE"));
    BrowserContainerController* container = controller.browserContainer();
    if (!container)
        throw std::runtime_error("the window shows no browser");

    // The columns first, as the window opens in them.
    controller.setViewMode(BrowserViewMode::column);
    settle();
    const auto columnsShow = [&](const URL& url, size_t items) {
        return [&container, url, items] {
            const ColumnBrowserViewController* columns = container->columnBrowser();
            return columns && !columns->columns().isEmpty() && columns->columns().first().path == url &&
                   !columns->columns().first().isLoading &&
                   size_t(columns->columns().first().items.size()) == items;
        };
    };
    showFolder(controller, dcim, columnsShow(dcim, 1), controller.window());
    settle();
    controller.fileSystemProvider().invalidateCache();
    const Shown columns = showFolder(controller, folder, columnsShow(folder, count), controller.window());
    settle();
    const Shown columnsLeave = leaveSelection(controller, dcim, columnsShow(dcim, 1), count);

    // Then the list, with the columns made and kept behind it, as after a user's switch.
    controller.setViewMode(BrowserViewMode::list);
    settle();
    const auto listShows = [&](const URL& url, size_t items) {
        return [&container, &controller, url, items] {
            const ListBrowserViewController* list = container->listBrowser();
            return list && controller.navigationState().currentPath.value() == std::optional<URL>(url) &&
                   size_t(list->displayedItems().size()) == items;
        };
    };
    spinUntil(listShows(dcim, 1));
    settle();
    controller.fileSystemProvider().invalidateCache();
    const Shown list = showFolder(controller, folder, listShows(folder, count), controller.window());
    settle();
    // The emulator stands for the phone: its record of every request is no memory of ours.
    emulator->log().clear();
    const double rssListed = residentMiB();
    const double heapListed = heapInUseMiB();
    const Shown listLeave = leaveSelection(controller, dcim, listShows(dcim, 1), count);

    // The copy: the folder again, Select All, the toolbar's Copy into the default destination.
    const std::filesystem::path destination = work / "copies";
    bench::makeFreshFolder(destination);
    PreferencesViewController::defaults().set(
        QString(PreferencesViewController::defaultDestinationKey),
        archiveURL(URL::fileURL(QString::fromStdString(destination.string()), true)));
    showFolder(controller, folder, listShows(folder, count), controller.window());
    controller.currentBrowser()->selectAllItems();
    settle();

    QElapsedTimer clock;
    qint64 firstWindowEnd = 0;
    qint64 lastWindowStart = 0;
    qint64 start = 0;
    qint64 cleared = 0;
    QTimer pace;
    pace.setInterval(5);
    QObject::connect(&pace, &QTimer::timeout, [&] {
        const QList<Transfer>& active = transfers->activeTransfers.value();
        if (active.isEmpty())
            return;
        const qint64 done = active.first().progress.filesCompleted;
        if (done / 1000 != cleared) {
            cleared = done / 1000;
            emulator->log().clear();
        }
        const qint64 now = clock.nsecsElapsed();
        if (firstWindowEnd == 0 && done >= qint64(paceWindow))
            firstWindowEnd = now;
        if (lastWindowStart == 0 && done >= qint64(count - paceWindow))
            lastWindowStart = now;
    });
    bench::StallWatch stalls;
    stalls.start();
    pace.start();
    clock.start();
    start = clock.nsecsElapsed();
    controller.copySelectedFiles(Qt::NoModifier);
    if (transfers->activeTransfers.value().isEmpty())
        throw std::runtime_error("Copy started nothing");
    const QUuid id = transfers->activeTransfers.value().first().id;
    async::runSync(transfers->awaitCompletion(id), noTimeLimit);
    const qint64 end = clock.nsecsElapsed();
    pace.stop();
    stalls.stop();
    settle();
    emulator->log().clear();
    const double rssEnd = residentMiB();

    size_t copied = 0;
    for (const auto& entry : std::filesystem::directory_iterator(destination)) {
        if (entry.is_regular_file())
            ++copied;
    }
    if (copied != count)
        throw std::runtime_error("the copy left " + std::to_string(copied) + " files");
    if (firstWindowEnd == 0 || lastWindowStart == 0)
        throw std::runtime_error("the copy's progress was never seen");
    const double firstPerSecond = double(paceWindow) / (double(firstWindowEnd - start) / 1e9);
    const double lastPerSecond = double(paceWindow) / (double(end - lastWindowStart) / 1e9);
    const double leaveStall = std::max(columnsLeave.stallMs, listLeave.stallMs);

    // Each stall with, in brackets, the main thread's own processor time in it: on a loaded machine
    // the difference is time spent waiting for a processor.
    std::printf("A device folder of %zu small photos, the whole window on screen\n", count);
    std::printf("  shown in the columns %.0f ms (longest stall %.1f ms [%.1f]), in the list %.0f ms (longest stall "
                "%.1f ms [%.1f]): list / columns %.2f (target <= 1.10)\n",
                columns.ms, columns.stallMs, columns.busyMs, list.ms, list.stallMs, list.busyMs,
                list.ms / columns.ms);
    std::printf("  Select All, then a click elsewhere: longest stall %.1f ms [%.1f] in the columns, %.1f ms [%.1f] "
                "in the list (target <= 100)\n",
                columnsLeave.stallMs, columnsLeave.busyMs, listLeave.stallMs, listLeave.busyMs);
    std::printf("  copy to this computer: %.0f files/s over the first %zu, %.0f files/s over the last %zu, "
                "ratio %.2f (target >= 0.80); longest stall %.1f ms [%.1f] (target <= 100)\n",
                firstPerSecond, paceWindow, lastPerSecond, paceWindow, lastPerSecond / firstPerSecond,
                stalls.longestMs(), stalls.longestBusyMs());
    std::printf("  memory: the listing shown holds %.0f bytes of heap an item (target < 1500), %.0f bytes of "
                "resident memory an item with what the allocator keeps; resident %.0f MiB before listing, %.0f MiB "
                "listed, %.0f MiB after the copy (target <= 200)\n",
                (heapListed - heapBefore) * 1048576.0 / double(count),
                (rssListed - rssBefore) * 1048576.0 / double(count), rssBefore, rssListed, rssEnd);
    std::printf("big_roll list_ms=%.0f columns_ms=%.0f leave_selection_stall_ms=%.1f first_files_per_s=%.0f "
                "last_files_per_s=%.0f max_stall_ms=%.1f rss_mib=%.0f\n",
                list.ms, columns.ms, leaveStall, firstPerSecond, lastPerSecond, stalls.longestMs(), rssEnd);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::runInWorkFolder("big_roll", "/dev/shm", "orvanta-bench", argc, argv, run);
}
