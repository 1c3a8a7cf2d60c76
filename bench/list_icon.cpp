// Showing a device folder of many files in the list view and in the icon view, each beside the
// provider's own listing of the same folder in the same run: what the view adds (model, rows or
// cells, layout, the first paint) to the listing it shows. Then sorting the list by size, with
// its repaint, and scrolling the icon view from top to bottom a page at a time, each page
// painted: the average time of one such frame.
//
//     list_icon [files, default 10000] [rounds, default 5]
//
// Offscreen, against the emulator; the device's folder lives on /dev/shm. The ratios are medians
// over rounds, the sort the slowest round. The last line holds the figures.

#include "BenchArguments.h"
#include "BenchSupport.h"
#include "browser/IconBrowserViewController.h"
#include "browser/ListBrowserViewController.h"
#include "device/AFCBridge.h"
#include "device/AFCLocation.h"
#include "emulator/Emulator.h"
#include "platform/UserDefaults.h"
#include "platform/async/RunSync.h"
#include "platform/async/SystemContinuousClock.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace {

const QString udid = QStringLiteral("00008110-00BE4C4B00000004");
constexpr auto noTimeLimit = std::chrono::hours(1);

// Files of different sizes, so that sorting by size has work to do.
void makeFiles(const std::filesystem::path& where, size_t count) {
    std::filesystem::create_directories(where);
    static const char bytes[128] = {};
    for (size_t i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%05zu.JPG", i);
        const size_t size = (i * 37) % 128;
        const int fd = ::open((where / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, bytes, size) != ssize_t(size) || ::close(fd) != 0)
            throw std::runtime_error("cannot make " + (where / name).string());
    }
}

void spinUntil(const std::function<bool()>& done) {
    QElapsedTimer limit;
    limit.start();
    while (!done()) {
        if (limit.elapsed() > 600000)
            throw std::runtime_error("gave up waiting for the view");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Shows the folder in the browser round after round, each time from the parent folder, and
// returns the median of the view's time over the provider's listing time.
double timeShowing(FlatBrowserController& browser, NavigationState& navigation, FileSystemProvider& provider,
                   const URL& parent, const URL& folder, size_t count, uint64_t rounds) {
    std::vector<double> ratios;
    for (uint64_t round = 0; round < rounds; ++round) {
        navigation.navigate(parent);
        spinUntil([&] { return browser.displayedItems().size() == 1; });

        provider.invalidateCache();
        QElapsedTimer timer;
        timer.start();
        const size_t listed = async::runSync(provider.listDirectory(folder), noTimeLimit).size();
        const double listing = double(timer.nsecsElapsed());
        if (listed != count)
            throw std::runtime_error("the listing found " + std::to_string(listed) + " files");

        provider.invalidateCache();
        timer.restart();
        navigation.navigate(folder);
        spinUntil([&] { return size_t(browser.displayedItems().size()) == count; });
        browser.itemView()->viewport()->repaint();
        ratios.push_back(double(timer.nsecsElapsed()) / listing);
    }
    return median(ratios);
}

int run(int argc, char** argv, const std::filesystem::path& work) {
    const std::optional<uint64_t> files =
        argc > 1 ? bench::parseCount("list_icon", "files", argv[1], 1000000) : 10000;
    const std::optional<uint64_t> rounds =
        argc > 2 ? bench::parseCount("list_icon", "rounds", argv[2], 1000) : 5;
    if (!files || !rounds || argc > 3)
        throw std::runtime_error("usage: list_icon [files] [rounds]");
    const size_t count = *files;
    if (!bench::roomFor("list_icon", work, count * 4096))
        return 2;
    const std::filesystem::path media = work / "media";
    makeFiles(media / "DCIM" / "100APPLE", count);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const auto emulator = bench::startEmulator(udid.toStdString(), media);

    QApplication app(argc, argv);
    bench::quietLogging();
    UserDefaults defaults(QString::fromStdString((work / "defaults.plist").string()));
    AFCBridge bridge;
    auto provider = std::make_shared<FileSystemProvider>(bridge, async::SystemContinuousClock::shared());
    const URL parent = AFCLocation::mediaURL(udid, QStringLiteral("/DCIM"));
    const URL folder = AFCLocation::mediaURL(udid, QStringLiteral("/DCIM/100APPLE"));

    NavigationState listNavigation(defaults);
    ListBrowserViewController list(provider, listNavigation, nullptr, nullptr, nullptr);
    list.resize(1000, 700);
    list.show();
    const double listRatio = timeShowing(list, listNavigation, *provider, parent, folder, count, *rounds);
    double sortWorst = 0;
    for (uint64_t round = 0; round < *rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        list.headerClicked(ListBrowserViewController::sizeColumn);
        list.tableView()->viewport()->repaint();
        sortWorst = std::max(sortWorst, double(timer.nsecsElapsed()) / 1e6);
    }
    list.hide();

    NavigationState iconNavigation(defaults);
    IconBrowserViewController icons(provider, iconNavigation, nullptr, nullptr, nullptr);
    icons.resize(1000, 700);
    icons.show();
    const double iconRatio = timeShowing(icons, iconNavigation, *provider, parent, folder, count, *rounds);

    QAbstractItemView* view = icons.itemView();
    QScrollBar* bar = view->verticalScrollBar();
    bar->setValue(0);
    view->viewport()->repaint();
    double frames = 0;
    double frameTotal = 0;
    while (bar->value() < bar->maximum()) {
        QElapsedTimer timer;
        timer.start();
        bar->setValue(std::min(bar->maximum(), bar->value() + bar->pageStep()));
        view->viewport()->repaint();
        frameTotal += double(timer.nsecsElapsed()) / 1e6;
        ++frames;
    }
    const double frameAverage = frames > 0 ? frameTotal / frames : 0;

    std::printf("Showing a folder of %zu device files, %llu rounds\n", count,
                static_cast<unsigned long long>(*rounds));
    std::printf("list view / provider listing, median: %.3f (target <= 1.2)\n", listRatio);
    std::printf("icon view / provider listing, median: %.3f (target <= 1.2)\n", iconRatio);
    std::printf("sorting the list by size, slowest: %.1f ms (target < 50)\n", sortWorst);
    std::printf("icon view scroll, %.0f pages: %.2f ms a frame on average (target < 16)\n", frames,
                frameAverage);
    std::printf("list_icon list_ratio=%.3f icon_ratio=%.3f sort_ms=%.1f scroll_frame_ms=%.2f\n", listRatio,
                iconRatio, sortWorst, frameAverage);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::runInWorkFolder("list_icon", "/dev/shm", "orvanta-bench", argc, argv, run);
}
