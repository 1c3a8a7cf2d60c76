// Walking down a column of device photos with the arrow key while the preview pane is open: how
// long the main thread froze at worst, and how much later each thumbnail reached the pane than
// the thumbnail cache took to make it (the cache's own time is taken around each request the pane
// makes, in the same run).
//
//     sidebar_preview [photos, default 50]
//
// Offscreen, against the emulator; the device's folder lives on /dev/shm. The photos are noisy
// 3000 x 2000 JPEGs without an embedded thumbnail, so that each one is read whole. The last line
// holds the figures: the longest stall, and the largest ratio over all photos.

#include "BenchArguments.h"
#include "BenchSupport.h"
#include "TestMedia.h"
#include "browser/ColumnBrowserViewController.h"
#include "browser/ColumnPanelView.h"
#include "browser/ColumnTableView.h"
#include "browser/FileItemListModel.h"
#include "device/AFCBridge.h"
#include "device/AFCLocation.h"
#include "emulator/Emulator.h"
#include "platform/UiTimerSource.h"
#include "platform/UserDefaults.h"
#include "platform/async/SystemContinuousClock.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"
#include "services/ThumbnailCache.h"
#include "sidebar/PreviewPaneViewController.h"

#include <QLabel>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

const QString udid = QStringLiteral("00008110-00BE4C4B00000004");

void spinUntil(const std::function<bool()>& done, const char* what) {
    QElapsedTimer limit;
    limit.start();
    while (!done()) {
        if (limit.elapsed() > 120000)
            throw std::runtime_error(std::string("gave up waiting for ") + what);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

// The cache's own time per request, by item id.
struct CacheTimes {
    QHash<QString, double> milliseconds;
};

async::Task<QImage> timedThumbnail(std::shared_ptr<CacheTimes> times, FileItem item, AFCBridge* bridge) {
    QElapsedTimer timer;
    timer.start();
    async::Task<QImage> request = ThumbnailCache::shared().thumbnail(item, bridge);
    QImage image = co_await std::move(request);
    times->milliseconds.insert(item.id(), double(timer.nsecsElapsed()) / 1e6);
    co_return image;
}

int run(int argc, char** argv, const std::filesystem::path& work) {
    const std::optional<uint64_t> photos =
        argc > 1 ? bench::parseCount("sidebar_preview", "photos", argv[1], 10000) : 50;
    if (!photos || *photos < 1 || argc > 2)
        throw std::runtime_error("usage: sidebar_preview [photos]");
    const int count = int(*photos);
    if (!bench::roomFor("sidebar_preview", work, uint64_t(count) * 4'000'000))
        return 2;
    const std::filesystem::path folder = work / "media" / "DCIM" / "100APPLE";
    std::filesystem::create_directories(folder);
    {
        // One picture, written under every name: each file is still its own request to the cache.
        const QByteArray jpeg = jpegBytes(quadrantImage(QSize(3000, 2000), 40), 92);
        for (int i = 0; i < count; ++i) {
            QFile file(QString::fromStdString((folder / "IMG_").string()) + QString::number(1000 + i) +
                       QStringLiteral(".JPG"));
            if (!file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size())
                throw std::runtime_error("cannot write the photos");
        }
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const auto emulator = bench::startEmulator(udid.toStdString(), work / "media");

    QApplication app(argc, argv);
    bench::quietLogging();
    UserDefaults defaults(QString::fromStdString((work / "defaults.plist").string()));
    auto bridge = std::make_shared<AFCBridge>();
    auto provider = std::make_shared<FileSystemProvider>(*bridge, async::SystemContinuousClock::shared());
    NavigationState navigation(defaults);
    auto times = std::make_shared<CacheTimes>();

    QWidget window;
    auto* browser =
        new ColumnBrowserViewController(provider, navigation, nullptr, nullptr, UiTimerSource::system());
    auto* preview = new PreviewPaneViewController(
        navigation, bridge, UiTimerSource::system(),
        [times](FileItem item, AFCBridge* afc) { return timedThumbnail(times, std::move(item), afc); });
    preview->setFixedWidth(260);
    auto* layout = new QHBoxLayout(&window);
    layout->addWidget(browser, 1);
    layout->addWidget(preview);
    window.resize(1200, 700);
    window.show();

    navigation.navigate(AFCLocation::mediaURL(udid, QStringLiteral("/DCIM/100APPLE")));
    spinUntil([&] { return browser->columns().size() == 1 && !browser->columns().first().isLoading; },
              "the column");
    ColumnPanelView* panel = browser->panels().first();
    if (panel->items().size() != count)
        throw std::runtime_error("the column shows " + std::to_string(panel->items().size()) + " photos");
    QListView* list = panel->tableView();
    list->setFocus();

    bench::StallWatch stalls;
    stalls.start();
    double worstRatio = 0;
    double sumShown = 0;
    double sumCache = 0;
    for (int i = 0; i < count; ++i) {
        QElapsedTimer shown;
        shown.start();
        if (i == 0)
            list->selectionModel()->setCurrentIndex(list->model()->index(0, 0),
                                                    QItemSelectionModel::ClearAndSelect);
        else
            QTest::keyClick(list, Qt::Key_Down);
        const QString id = panel->items().at(i).id();
        const QString name = panel->items().at(i).name();
        // The pane names the photo as soon as it shows it, and only then clears the icon area.
        spinUntil(
            [&] {
                return preview->nameLabel()->text() == name &&
                       preview->iconState() == PreviewPaneViewController::IconState::thumbnail;
            },
            "a thumbnail");
        const double shownMs = double(shown.nsecsElapsed()) / 1e6;
        const double cacheMs = times->milliseconds.value(id, -1);
        if (cacheMs <= 0)
            throw std::runtime_error("the cache never answered for " + id.toStdString());
        worstRatio = std::max(worstRatio, shownMs / cacheMs);
        sumShown += shownMs;
        sumCache += cacheMs;
    }
    stalls.stop();
    std::printf("Walking down %d device photos with the preview pane open\n", count);
    std::printf("thumbnail on screen, mean: %.1f ms; the cache's own time, mean: %.1f ms\n", sumShown / count,
                sumCache / count);
    std::printf("largest ratio shown / cache: %.3f (target <= 1.5)\n", worstRatio);
    std::printf("longest main-thread stall: %.1f ms (target <= 50)\n", stalls.longestMs());
    std::printf("sidebar_preview max_stall_ms=%.1f thumb_ratio=%.3f\n", stalls.longestMs(), worstRatio);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::runInWorkFolder("sidebar_preview", "/dev/shm", "orvanta-bench", argc, argv, run);
}
