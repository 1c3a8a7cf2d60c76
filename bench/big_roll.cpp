// A phone's camera roll of tens of thousands of small photos in one device folder, the ordinary
// case, walked as a user would in one run with the whole window on screen: the folder shown in
// the columns and in the list (time from the navigation to the listing shown), Select All and
// then a click elsewhere (the main thread's longest stall), and the copy of the whole folder to a
// computer folder through the transfer manager (files a second over the first and the last ten
// thousand files, the longest stall meanwhile, and the resident memory at the end). A 5 ms timer
// on the main thread measures the stalls: the longest gap between its ticks. The menu bar and its
// command router are wired as the application wires them, so every published change and focus
// change validates the menus; with the whole roll on the clipboard, the time of one validation of
// the Edit menu and the stall of a click on one row after Select All are measured too.
//
//     big_roll [files, default 50000]
//
// Offscreen, against the in-process device emulator, with every file on /dev/shm so that the disk
// does not set the pace; the emulator's record of requests is emptied as it goes, since it stands
// for the phone. The last line holds the figures.

#include "BenchArguments.h"
#include "BenchSupport.h"
#include "StallStacks.h"
#include "app/MainMenu.h"
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
#include "transfer/ClipboardManager.h"
#include "transfer/TransferManager.h"
#include "uikit/AlertPresenter.h"
#include "uikit/CommandRouter.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QMainWindow>
#include <QMouseEvent>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <malloc.h>
#include <mutex>
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

// How often the provider read one folder: its "Listed" lines counted, the rest of the log kept
// quiet.
class ListingCount {
public:
    static void start() {
        QLoggingCategory::setFilterRules(QStringLiteral("io.halvorn.orvanta.*.debug=false\n"
                                                        "io.halvorn.orvanta.*.info=false\n"
                                                        "io.halvorn.orvanta.filesystem.debug=true"));
        previous() = qInstallMessageHandler(&ListingCount::hear);
    }
    static void follow(const URL& folder) {
        const std::lock_guard lock(mutex());
        suffix() = QStringLiteral(" at ") + folder.absoluteString();
        count() = 0;
    }
    static int listings() {
        const std::lock_guard lock(mutex());
        return count();
    }

private:
    static void hear(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (type == QtDebugMsg && qstrcmp(context.category, "io.halvorn.orvanta.filesystem") == 0) {
            const std::lock_guard lock(mutex());
            if (message.startsWith(QStringLiteral("Listed ")) && !suffix().isEmpty() &&
                message.endsWith(suffix()))
                ++count();
            return;
        }
        if (previous())
            previous()(type, context, message);
    }
    static QtMessageHandler& previous() {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    static std::mutex& mutex() {
        static std::mutex shared;
        return shared;
    }
    static QString& suffix() {
        static QString text;
        return text;
    }
    static int& count() {
        static int listed = 0;
        return listed;
    }
};

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

// The keys of a whole folder's selection in the browser on screen: Select All, Ctrl+C, then a
// click on another place. Each is the longest stall from the key until everything it set off has
// run (for the click: until the other place is shown). Between Ctrl+C and the click, the longest
// of ten validations of the Edit menu with the whole folder on the clipboard.
struct SelectionKeys {
    Shown selectAll;
    Shown copy;
    Shown leave;
    double validateMs = 0;
};

// The main thread's time of validating every item of the Edit menu through the router, as the
// window does at each focus change, activation and published change: the longest of ten.
double editMenuValidationMs(const CommandRouter& router, QWidget* window) {
    if (QApplication::activeWindow() != window)
        throw std::runtime_error("the window is not active: the menu would not ask it");
    double longest = 0;
    for (int round = 0; round < 10; ++round) {
        QElapsedTimer timer;
        timer.start();
        for (const MainMenu::Item& item : MainMenu::items()) {
            if (item.menu == u"Edit" && !item.selector.isEmpty())
                router.validate(item.selector);
        }
        longest = std::max(longest, double(timer.nsecsElapsed()) / 1e6);
    }
    return longest;
}

Shown timedKey(const std::function<void()>& key) {
    bench::StallWatch stalls;
    stalls.start();
    key();
    settle();
    stalls.stop();
    return {0, stalls.longestMs(), stalls.longestBusyMs()};
}

SelectionKeys selectCopyAndLeave(MainWindowController& controller, const CommandRouter& router,
                                 const URL& elsewhere, const std::function<bool()>& shown, size_t count) {
    if (!controller.currentBrowser())
        throw std::runtime_error("no browser on screen");
    SelectionKeys keys;
    keys.selectAll = timedKey([&] { controller.perform(QStringLiteral("selectAll:"), nullptr); });
    if (size_t(controller.navigationState().selectedItems.value().size()) != count)
        throw std::runtime_error("Select All selected " +
                                 std::to_string(controller.navigationState().selectedItems.value().size()));
    keys.copy = timedKey([&] { controller.perform(QStringLiteral("copy:"), nullptr); });
    if (size_t(controller.clipboardManager().items.value().size()) != count)
        throw std::runtime_error("Ctrl+C took " +
                                 std::to_string(controller.clipboardManager().items.value().size()));
    keys.validateMs = editMenuValidationMs(router, controller.window());
    bench::StallWatch stalls;
    stalls.start();
    controller.navigationState().navigate(elsewhere);
    spinUntil(shown);
    settle();
    stalls.stop();
    if (!controller.navigationState().selectedItems.value().isEmpty())
        throw std::runtime_error("the selection outlived the click");
    keys.leave = {0, stalls.longestMs(), stalls.longestBusyMs()};
    return keys;
}

// Select All in the list with the focus elsewhere in the window (the sidebar), then a press and
// release on the list's first row: the focus comes back to the list and the selection shrinks to
// one row, and the menus are validated for each. The longest stall until all of it has run.
Shown clickAwayFromSelectAll(MainWindowController& controller, QTableView* table) {
    controller.currentBrowser()->selectAllItems();
    if (controller.sidebarView())
        controller.sidebarView()->setFocus(Qt::MouseFocusReason);
    settle();
    const QPoint at = table->visualRect(table->model()->index(0, 0)).center();
    const Shown clicked = timedKey([&] {
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, table->viewport()->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                              Qt::NoModifier);
            QApplication::sendEvent(table->viewport(), &event);
        }
    });
    if (controller.navigationState().selectedItems.value().size() != 1)
        throw std::runtime_error("the click left " +
                                 std::to_string(controller.navigationState().selectedItems.value().size()) +
                                 " items selected");
    return clicked;
}

// Waits with the event loop running, as the window does while its user looks at it.
void idle(std::chrono::seconds seconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < std::chrono::milliseconds(seconds).count())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

// One copy of the whole roll through the transfer manager, started by start(): its time, its pace
// over the first and the last window of files, the longest stall from its start until the window
// has shown its result (done() true) and settled, and the longest from its last hundredth of files
// on (its end).
struct Copy {
    double seconds = 0;
    double firstPerSecond = 0;
    double lastPerSecond = 0;
    Shown stalls;
    Shown end;
};

Copy timedCopy(TransferManager& transfers, fakemux::Emulator& emulator, size_t count, size_t paceWindow,
               const std::function<void()>& start, const std::function<bool()>& done,
               const std::function<void()>& ended = {}) {
    QElapsedTimer clock;
    qint64 firstWindowEnd = 0;
    qint64 lastWindowStart = 0;
    qint64 cleared = 0;
    bench::StallWatch stalls;
    bool nearEnd = false;
    QTimer pace;
    pace.setInterval(5);
    QObject::connect(&pace, &QTimer::timeout, [&] {
        const QList<Transfer>& active = transfers.activeTransfers.value();
        if (active.isEmpty())
            return;
        const qint64 copied = active.first().progress.filesCompleted;
        // The emulator stands for the phone: its record of every request is no memory of ours.
        if (copied / 1000 != cleared) {
            cleared = copied / 1000;
            emulator.log().clear();
        }
        const qint64 now = clock.nsecsElapsed();
        if (firstWindowEnd == 0 && copied >= qint64(paceWindow))
            firstWindowEnd = now;
        if (lastWindowStart == 0 && copied >= qint64(count - paceWindow))
            lastWindowStart = now;
        // The copy's end: its last hundredth on, what the window does when it is over.
        if (!nearEnd && copied >= qint64(count - count / 100)) {
            nearEnd = true;
            stalls.mark();
        }
    });
    stalls.start();
    pace.start();
    clock.start();
    start();
    if (transfers.activeTransfers.value().isEmpty())
        throw std::runtime_error("the copy started nothing");
    const QUuid id = transfers.activeTransfers.value().first().id;
    // The files are all copied when the last one's progress is published: from then on the
    // window's work is the copy's end.
    bool allCopied = false;
    const Subscription copied = transfers.activeTransfers.subscribe([&](const QList<Transfer>& active) {
        if (!allCopied && !active.isEmpty() && active.first().progress.filesCompleted == qint64(count)) {
            allCopied = true;
            if (ended)
                ended();
        }
    });
    async::runSync(transfers.awaitCompletion(id), noTimeLimit);
    const qint64 end = clock.nsecsElapsed();
    pace.stop();
    spinUntil(done);
    settle();
    stalls.stop();
    emulator.log().clear();
    if (firstWindowEnd == 0 || lastWindowStart == 0)
        throw std::runtime_error("the copy's progress was never seen");
    Copy copy;
    copy.seconds = double(end) / 1e9;
    copy.firstPerSecond = double(paceWindow) / (double(firstWindowEnd) / 1e9);
    copy.lastPerSecond = double(paceWindow) / (double(end - lastWindowStart) / 1e9);
    copy.stalls = {0, stalls.longestMs(), stalls.longestBusyMs()};
    copy.end = {0, nearEnd ? stalls.longestSinceMarkMs() : 0, nearEnd ? stalls.longestBusySinceMarkMs() : 0};
    return copy;
}

size_t filesIn(const std::filesystem::path& folder) {
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file())
            ++files;
    }
    return files;
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
    ListingCount::start();
    bench::startStallStacksIfAsked();
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
    // The menus as the application wires them: validated at each published change and focus change.
    CommandRouter router;
    controller.window()->setMenuBar(MainMenu::build(router));
    router.setMainWindow(controller.window(), &controller);
    MainMenu::addWindowKeys(router, controller.window());
    QObject::connect(&controller, &MainWindowController::commandStateChanged, &router,
                     &CommandRouter::revalidate);
    controller.window()->resize(1100, 700);
    controller.window()->show();
    controller.window()->activateWindow();
    spinUntil([&] { return QApplication::activeWindow() == controller.window(); });
    settle();
    emulator->log().clear();
    const double rssStart = residentMiB();
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
    const SelectionKeys columnsKeys =
        selectCopyAndLeave(controller, router, dcim, columnsShow(dcim, 1), count);

    // Then the list, with the columns made and kept behind it, as after a user's switch.
    controller.setViewMode(BrowserViewMode::list);
    settle();
    const auto listShows = [&](const URL& url, size_t items) {
        return [&container, &controller, url, items] {
            const ListBrowserViewController* list = container->listBrowser();
            // The count alone would take the folder shown before for this one when both hold as
            // many items: the first item must be this folder's.
            return list && controller.navigationState().currentPath.value() == std::optional<URL>(url) &&
                   size_t(list->displayedItems().size()) == items &&
                   (items == 0 ||
                    list->displayedItems().first().path().deletingLastPathComponent().isSameLocation(url));
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

    // The road a user takes: Select All and Ctrl+C in the camera folder, Downloads clicked, Ctrl+V
    // there, the list showing Downloads fill while the copy runs.
    const std::filesystem::path downloads = work / "Downloads";
    bench::makeFreshFolder(downloads);
    const URL downloadsURL = URL::fileURL(QString::fromStdString(downloads.string()), true);
    // The whole roll is on the clipboard from the columns' Ctrl+C.
    const Shown focusClick = clickAwayFromSelectAll(controller, container->listBrowser()->tableView());
    const SelectionKeys listKeys =
        selectCopyAndLeave(controller, router, downloadsURL, listShows(downloadsURL, 0), count);
    const double rssBefore = residentMiB();
    const Copy pasted = timedCopy(
        *transfers, *emulator, count, paceWindow,
        [&] { controller.perform(QStringLiteral("paste:"), nullptr); }, listShows(downloadsURL, count),
        [&] { ListingCount::follow(downloadsURL); });
    if (filesIn(downloads) != count)
        throw std::runtime_error("the paste left " + std::to_string(filesIn(downloads)) + " files");
    const double rssEnd = residentMiB();
    idle(std::chrono::seconds(30));
    // From the copy's end to half a minute later: the folder on screen is read once more.
    const int endListings = ListingCount::listings();
    ListingCount::follow(URL());
    const double rssAfter = residentMiB();

    // The same roll copied into a folder not on screen: Copy to Computer from the camera folder.
    const std::filesystem::path destination = work / "copies";
    bench::makeFreshFolder(destination);
    PreferencesViewController::defaults().set(
        QString(PreferencesViewController::defaultDestinationKey),
        archiveURL(URL::fileURL(QString::fromStdString(destination.string()), true)));
    showFolder(controller, folder, listShows(folder, count), controller.window());
    controller.currentBrowser()->selectAllItems();
    settle();
    const Copy hidden = timedCopy(
        *transfers, *emulator, count, paceWindow, [&] { controller.copySelectedFiles(Qt::NoModifier); },
        [] { return true; });
    if (filesIn(destination) != count)
        throw std::runtime_error("the copy left " + std::to_string(filesIn(destination)) + " files");

    const double leaveStall = std::max(columnsKeys.leave.stallMs, listKeys.leave.stallMs);
    const double selectAll = std::max(columnsKeys.selectAll.stallMs, listKeys.selectAll.stallMs);
    const double copyKey = std::max(columnsKeys.copy.stallMs, listKeys.copy.stallMs);
    const double validateMs = std::max(columnsKeys.validateMs, listKeys.validateMs);
    const double maxStall = std::max(pasted.stalls.stallMs, hidden.stalls.stallMs);
    const double endStall = std::max(pasted.end.stallMs, hidden.end.stallMs);
    const double ratio = pasted.seconds / hidden.seconds;
    // The shown listing may keep up to 1 KB an item on top of what the window held before.
    const double rssTarget = 1.2 * rssBefore + double(count) / 1024.0;

    // Each stall with, in brackets, the main thread's own processor time in it: on a loaded machine
    // the difference is time spent waiting for a processor.
    std::printf("A device folder of %zu small photos, the whole window on screen\n", count);
    std::printf(
        "  shown in the columns %.0f ms (longest stall %.1f ms [%.1f]), in the list %.0f ms (longest stall "
        "%.1f ms [%.1f]): list / columns %.2f (target <= 1.10)\n",
        columns.ms, columns.stallMs, columns.busyMs, list.ms, list.stallMs, list.busyMs,
        list.ms / columns.ms);
    std::printf(
        "  keys, longest stall in the columns / the list (target <= 100 ms): Select All %.1f [%.1f] / %.1f "
        "[%.1f], Ctrl+C %.1f [%.1f] / %.1f [%.1f], a click elsewhere %.1f [%.1f] / %.1f [%.1f]\n",
        columnsKeys.selectAll.stallMs, columnsKeys.selectAll.busyMs, listKeys.selectAll.stallMs,
        listKeys.selectAll.busyMs, columnsKeys.copy.stallMs, columnsKeys.copy.busyMs, listKeys.copy.stallMs,
        listKeys.copy.busyMs, columnsKeys.leave.stallMs, columnsKeys.leave.busyMs, listKeys.leave.stallMs,
        listKeys.leave.busyMs);
    std::printf("  with the whole roll on the clipboard: one validation of the Edit menu %.3f ms / %.3f ms "
                "(target <= 5 ms), a click on one row after Select All %.1f ms [%.1f] (target <= 100 ms)\n",
                columnsKeys.validateMs, listKeys.validateMs, focusClick.stallMs, focusClick.busyMs);
    std::printf(
        "  pasted into Downloads on screen: %.1f s, %.0f files/s over the first %zu, %.0f files/s over the "
        "last %zu, ratio %.2f (target >= 0.80); longest stall %.1f ms [%.1f], at the end %.1f ms [%.1f]\n",
        pasted.seconds, pasted.firstPerSecond, paceWindow, pasted.lastPerSecond, paceWindow,
        pasted.lastPerSecond / pasted.firstPerSecond, pasted.stalls.stallMs, pasted.stalls.busyMs,
        pasted.end.stallMs, pasted.end.busyMs);
    std::printf(
        "  copied into a folder not on screen: %.1f s (%.0f files/s over the first %zu, %.0f over the last); "
        "longest stall %.1f ms [%.1f], at the end %.1f ms [%.1f]; paste / copy %.2f (target <= 1.20)\n",
        hidden.seconds, hidden.firstPerSecond, paceWindow, hidden.lastPerSecond, hidden.stalls.stallMs,
        hidden.stalls.busyMs, hidden.end.stallMs, hidden.end.busyMs, ratio);
    std::printf("  the folder on screen read %d times from the paste's last file on (target 1)\n",
                endListings);
    std::printf(
        "  memory: the listing shown holds %.0f bytes of heap an item (target < 1500), %.0f bytes of "
        "resident memory an item with what the allocator keeps; resident %.0f MiB before the paste, %.0f "
        "MiB at its end, %.0f MiB 30 s later (target <= %.0f)\n",
        (heapListed - heapBefore) * 1048576.0 / double(count),
        (rssListed - rssStart) * 1048576.0 / double(count), rssBefore, rssEnd, rssAfter, rssTarget);
    std::printf(
        "big_roll list_ms=%.0f columns_ms=%.0f leave_selection_stall_ms=%.1f select_all_ms=%.1f "
        "copy_key_ms=%.1f end_stall_ms=%.1f first_files_per_s=%.0f last_files_per_s=%.0f "
        "paste_shown_ratio=%.2f max_stall_ms=%.1f rss_before_mib=%.0f rss_after_mib=%.0f validate_ms=%.3f "
        "focus_stall_ms=%.1f end_listings=%d\n",
        list.ms, columns.ms, leaveStall, selectAll, copyKey, endStall, pasted.firstPerSecond,
        pasted.lastPerSecond, ratio, maxStall, rssBefore, rssAfter, validateMs, focusClick.stallMs,
        endListings);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::runInWorkFolder("big_roll", "/dev/shm", "orvanta-bench", argc, argv, run);
}
