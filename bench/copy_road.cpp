// The main road's speed: the toolbar's Copy of device photos into a folder, from the click to the
// transfer's end, with the main window, its status bar and the progress panel all on screen,
// against the transfer manager copying the same photos with no window at all. Meanwhile a 5 ms
// timer on the main thread measures the longest gap between its ticks, and the panel's redraws
// are counted (each one an update request of its window).
//
//     copy_road [rounds, default 3] [photos, default 200]
//
// Over the in-process device emulator, offscreen, with files on /dev/shm so that the disk does not
// set the pace. The two sides take turns going first, and the best round of each counts. The
// last line holds the figures for scripts to read.

#include "BenchArguments.h"
#include "BenchSupport.h"
#include "app/MainWindowController.h"
#include "app/Toolbar.h"
#include "app/TransferProgressView.h"
#include "app/TransferProgressWindowController.h"
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
#include "services/NavigationState.h"
#include "services/PreferencesViewController.h"
#include "transfer/TransferManager.h"
#include "uikit/AlertPresenter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QToolButton>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace {

const QString udid = QStringLiteral("00008110-00BE4C4B0000001C");
constexpr uint64_t photoBytes = 3'000'000;
constexpr auto noTimeLimit = std::chrono::hours(1);

QString photoName(int index) {
    return QStringLiteral("IMG_%1.JPG").arg(index + 1, 4, 10, QLatin1Char('0'));
}

QList<FileItem> photos(int count) {
    QList<FileItem> items;
    for (int index = 0; index < count; ++index) {
        const URL url = AFCLocation::mediaURL(udid, QStringLiteral("/DCIM/100APPLE/") + photoName(index));
        items.append(FileItem(url.absoluteString(), url.lastPathComponent(), url, false, photoBytes,
                              Date::now(), FileKind::image, std::nullopt));
    }
    return items;
}

void checkCopies(const std::filesystem::path& folder, int count) {
    for (int index = 0; index < count; ++index) {
        const std::filesystem::path copy = folder / photoName(index).toStdString();
        if (!std::filesystem::is_regular_file(copy) || std::filesystem::file_size(copy) != photoBytes)
            throw std::runtime_error("a copy is incomplete: " + copy.string());
    }
}

// Counts the panel's redraws that show something new: at each update request of its window, the
// texts and the bar's value are compared with those of the last counted redraw. A layout pass
// repaints the same contents a second time; that is no new picture for the user.
class RedrawCounter : public QObject {
public:
    explicit RedrawCounter(TransferProgressView* view) : m_view(view) { m_clock.start(); }
    int count = 0;
    int requests = 0;
    double firstSeconds = 0;
    double lastSeconds = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::UpdateRequest)
            return false;
        ++requests;
        const QString shown = m_view->headerLabel()->text() + u'|' + m_view->currentFileLabel()->text() +
                              u'|' + m_view->speedLabel()->text() + u'|' +
                              QString::number(m_view->overallProgress()->value());
        if (shown == m_last)
            return false;
        m_last = shown;
        if (qEnvironmentVariableIsSet("COPY_ROAD_TRACE"))
            std::fprintf(stderr, "%.3f %s\n", double(m_clock.nsecsElapsed()) / 1e9, qPrintable(shown));
        const double now = double(m_clock.nsecsElapsed()) / 1e9;
        if (count++ == 0)
            firstSeconds = now;
        lastSeconds = now;
        return false;
    }
    // Redraws a second between the first and the last one.
    double perSecond() const {
        return count < 2 || lastSeconds <= firstSeconds ? 0
                                                        : double(count - 1) / (lastSeconds - firstSeconds);
    }

private:
    TransferProgressView* m_view;
    QElapsedTimer m_clock;
    QString m_last;
};

// Answers nothing: the bench's copies meet no clash and no failure, so nobody is asked.
class SilentAlertPresenter : public AlertPresenter {
public:
    async::Task<AlertResponse> ask(AlertRequest, QWidget*, std::stop_token) override {
        throw std::runtime_error("the copy asked a question");
        co_return AlertResponse{};
    }
};

// The same 5 ms timer ticks on both sides, so that its wake-ups weigh on both alike.
double engineSeconds(TransferManager& manager, const std::filesystem::path& folder, int count,
                     bench::StallWatch& ticks) {
    bench::makeFreshFolder(folder);
    ticks.start();
    QElapsedTimer timer;
    timer.start();
    async::runSync(manager.transferAndAwait(photos(count),
                                            URL::fileURL(QString::fromStdString(folder.string()), true),
                                            std::nullopt),
                   noTimeLimit);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    ticks.stop();
    checkCopies(folder, count);
    return seconds;
}

struct RoadRound {
    double seconds = 0;
    double redrawsPerSecond = 0;
    int redraws = 0;
    int updateRequests = 0;
};

RoadRound roadSeconds(MainWindowController& controller, TransferManager& manager,
                      const std::filesystem::path& folder, int count, bench::StallWatch& stalls) {
    bench::makeFreshFolder(folder);
    PreferencesViewController::defaults().set(
        QString(PreferencesViewController::defaultDestinationKey),
        archiveURL(URL::fileURL(QString::fromStdString(folder.string()), true)));

    RedrawCounter redraws(controller.progressWindowController()->progressView());
    QWidget* panel = controller.progressWindowController()->window();
    panel->installEventFilter(&redraws);
    stalls.start();
    QElapsedTimer timer;
    timer.start();
    controller.toolbar()->copyButton()->click();
    if (manager.activeTransfers.value().isEmpty())
        throw std::runtime_error("the click started no copy (" +
                                 std::to_string(controller.navigationState().selectedItems.value().size()) +
                                 " selected)");
    const QUuid id = manager.activeTransfers.value().last().id;
    async::runSync(manager.awaitCompletion(id), noTimeLimit);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    stalls.stop();
    panel->removeEventFilter(&redraws);
    checkCopies(folder, count);
    return {seconds, redraws.perSecond(), redraws.count, redraws.requests};
}

int run(int argc, char** argv, const std::filesystem::path& work) {
    const std::optional<uint64_t> roundArg =
        argc > 1 ? bench::parseCount("copy_road", "rounds", argv[1], 1000) : 3;
    const std::optional<uint64_t> photoArg =
        argc > 2 ? bench::parseCount("copy_road", "photos", argv[2], 5000) : 200;
    if (!roundArg || !photoArg || argc > 3)
        throw std::runtime_error("usage: copy_road [rounds] [photos]");
    const int rounds = int(*roundArg);
    const int count = int(*photoArg);
    // The photos, and two copies of them at most at a time.
    if (!bench::roomFor("copy_road", work, 3 * uint64_t(count) * photoBytes))
        return 2;

    const std::filesystem::path media = work / "media";
    std::filesystem::create_directories(media / "DCIM" / "100APPLE");
    static const char pattern[] = "copy road bench photo bytes ";
    for (int index = 0; index < count; ++index)
        bench::makeFile(media / "DCIM" / "100APPLE" / photoName(index).toStdString(), photoBytes, pattern,
                        sizeof pattern - 1);
    const auto emulator = bench::startEmulator(udid.toStdString(), media);
    bench::keepApplicationDataIn(work);

    QApplication app(argc, argv);
    bench::quietLogging();
    UserDefaults& defaults = PreferencesViewController::defaults();
    NotificationCenter notifications;
    DeviceManager deviceManager(std::make_shared<IMobileDeviceBridge>(std::make_shared<ProcessRunner>()));
    async::runSync(deviceManager.afcBridge()->connect(udid), noTimeLimit);

    // The window's side: the whole window with its browser, status bar and panel on screen, the
    // photos listed and selected as a user's Select All leaves them.
    auto windowManager =
        std::make_shared<TransferManager>(defaults, async::SystemContinuousClock::shared(), notifications);
    MainWindowController controller(deviceManager, windowManager, std::make_shared<SilentAlertPresenter>());
    controller.window()->show();
    controller.showBrowser();
    // The new browser publishes its own (empty) state first; the selection comes after it.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    const QList<FileItem> items = photos(count);
    controller.navigationState().currentDirectoryContents = items;
    controller.navigationState().selectedItems = QSet<FileItem>(items.begin(), items.end());

    // The bare side: the same engine over the same device session, and no window.
    TransferManager bareManager(defaults, async::SystemContinuousClock::shared(), notifications);
    bareManager.setAFCBridge(deviceManager.afcBridge());
    bareManager.setFileSystemProvider(windowManager->fileSystemProvider());

    bench::StallWatch stalls;
    bench::StallWatch engineTicks;
    double engine = 1e9;
    RoadRound road{1e9, 0, 0, 0};
    const auto takeRoad = [&](const std::filesystem::path& folder) {
        const RoadRound round = roadSeconds(controller, *windowManager, folder, count, stalls);
        if (round.seconds < road.seconds)
            road.seconds = round.seconds;
        road.redrawsPerSecond = std::max(road.redrawsPerSecond, round.redrawsPerSecond);
        road.redraws = std::max(road.redraws, round.redraws);
        road.updateRequests = std::max(road.updateRequests, round.updateRequests);
    };
    for (int round = 0; round < rounds; ++round) {
        const auto engineFolder = work / ("engine" + std::to_string(round));
        const auto roadFolder = work / ("road" + std::to_string(round));
        if (round % 2 == 0) {
            engine = std::min(engine, engineSeconds(bareManager, engineFolder, count, engineTicks));
            takeRoad(roadFolder);
        } else {
            takeRoad(roadFolder);
            engine = std::min(engine, engineSeconds(bareManager, engineFolder, count, engineTicks));
        }
        std::filesystem::remove_all(engineFolder);
        std::filesystem::remove_all(roadFolder);
    }

    std::printf("%d device photos of %.1f MB, best of %d rounds\n", count, double(photoBytes) / 1e6, rounds);
    std::printf("  transfer manager alone %8.1f ms, toolbar Copy to the end %8.1f ms, ratio %.2f "
                "(target <= 1.10)\n",
                engine * 1e3, road.seconds * 1e3, road.seconds / engine);
    std::printf("main thread: longest gap between ticks of a 5 ms timer %.1f ms (target <= 50)\n",
                stalls.longestMs());
    std::printf("progress panel: at most %.1f redraws with new contents a second in a round (target <= 10); "
                "at most %d such redraws and %d repaint requests in a round\n",
                road.redrawsPerSecond, road.redraws, road.updateRequests);
    std::printf("copy_road ratio=%.2f max_stall_ms=%.1f panel_updates_per_s=%.1f\n", road.seconds / engine,
                stalls.longestMs(), road.redrawsPerSecond);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::runInWorkFolder("copy_road", "/dev/shm", "orvanta-bench", argc, argv, run);
}
