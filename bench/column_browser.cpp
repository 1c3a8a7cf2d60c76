// Opening a device folder of many files in a new column, beside the provider's own listing of
// the same folder in the same run: what the column adds (model, rows, layout, the first paint)
// to the listing it shows. Meanwhile the longest gap between ticks of a 5 ms timer tells how
// long the window froze. Then selecting every row and scrolling from top to bottom, each with
// its repaint.
//
//     column_browser [files, default 10000] [rounds, default 7]
//
// Offscreen, against the emulator; the device's folder lives on /dev/shm. The ratio is the
// median over rounds, the other figures the slowest round. The last line holds the figures.

#include "BenchArguments.h"
#include "BenchSupport.h"
#include "browser/ColumnBrowserViewController.h"
#include "browser/ColumnPanelView.h"
#include "browser/ColumnTableView.h"
#include "browser/FileItemListModel.h"
#include "device/AFCBridge.h"
#include "device/AFCLocation.h"
#include "emulator/Emulator.h"
#include "platform/UiTimerSource.h"
#include "platform/UserDefaults.h"
#include "platform/async/RunSync.h"
#include "platform/async/SystemContinuousClock.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace {

const QString udid = QStringLiteral("00008110-00BE4C4B00000003");
constexpr auto noTimeLimit = std::chrono::hours(1);

void makeFiles(const std::filesystem::path& where, size_t count) {
    std::filesystem::create_directories(where);
    for (size_t i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%05zu.JPG", i);
        const int fd = ::open((where / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, name, 8) != 8 || ::close(fd) != 0)
            throw std::runtime_error("cannot make " + (where / name).string());
    }
}

// Runs the loop until done() holds; the bench has no other way to wait for a column.
void spinUntil(const std::function<bool()>& done) {
    QElapsedTimer limit;
    limit.start();
    while (!done()) {
        if (limit.elapsed() > 600000)
            throw std::runtime_error("gave up waiting for the column");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int run(int argc, char** argv, const std::filesystem::path& work) {
    const std::optional<uint64_t> files =
        argc > 1 ? bench::parseCount("column_browser", "files", argv[1], 1000000) : 10000;
    const std::optional<uint64_t> rounds =
        argc > 2 ? bench::parseCount("column_browser", "rounds", argv[2], 1000) : 7;
    if (!files || !rounds || argc > 3)
        throw std::runtime_error("usage: column_browser [files] [rounds]");
    const size_t count = *files;
    if (!bench::roomFor("column_browser", work, count * 4096))
        return 2;
    const std::filesystem::path media = work / "media";
    makeFiles(media / "DCIM" / "100APPLE", count);
    // Before the emulator's threads exist: setenv races with getenv.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const auto emulator = bench::startEmulator(udid.toStdString(), media);

    QApplication app(argc, argv);
    bench::quietLogging();
    UserDefaults defaults(QString::fromStdString((work / "defaults.plist").string()));
    AFCBridge bridge;
    auto provider = std::make_shared<FileSystemProvider>(bridge, async::SystemContinuousClock::shared());
    NavigationState navigation(defaults);
    ColumnBrowserViewController browser(provider, navigation, nullptr, nullptr, UiTimerSource::system());
    browser.resize(1000, 700);
    browser.show();

    const URL parent = AFCLocation::mediaURL(udid, QStringLiteral("/DCIM"));
    const URL folder = AFCLocation::mediaURL(udid, QStringLiteral("/DCIM/100APPLE"));
    navigation.navigate(parent);
    spinUntil([&] { return browser.columns().size() == 1 && !browser.columns().first().isLoading; });
    const auto open = [&]() -> ColumnPanelView* {
        ColumnPanelView* first = browser.panels().first();
        first->tableView()->selectionModel()->clearSelection();
        browser.truncateColumns(0);
        first->tableView()->selectionModel()->setCurrentIndex(first->model()->index(0),
                                                              QItemSelectionModel::ClearAndSelect);
        spinUntil([&] { return browser.columns().size() == 2 && !browser.columns().last().isLoading; });
        ColumnPanelView* panel = browser.panels().last();
        panel->tableView()->viewport()->repaint();
        return panel;
    };
    open();

    std::vector<double> ratios;
    double stallWorst = 0;
    double selectWorst = 0;
    double scrollWorst = 0;
    for (uint64_t round = 0; round < *rounds; ++round) {
        provider->invalidateCache();
        QElapsedTimer timer;
        timer.start();
        const size_t listed = async::runSync(provider->listDirectory(folder), noTimeLimit).size();
        const double listing = double(timer.nsecsElapsed());
        if (listed != count)
            throw std::runtime_error("the listing found " + std::to_string(listed) + " files");

        provider->invalidateCache();
        bench::StallWatch stalls;
        stalls.start();
        timer.restart();
        ColumnPanelView* panel = open();
        const double opening = double(timer.nsecsElapsed());
        stalls.stop();
        if (size_t(panel->items().size()) != count)
            throw std::runtime_error("the column shows " + std::to_string(panel->items().size()) + " rows");
        ratios.push_back(opening / listing);
        stallWorst = std::max(stallWorst, stalls.longestMs());

        panel->tableView()->setFocus();
        timer.restart();
        browser.selectAllItems();
        panel->tableView()->viewport()->repaint();
        selectWorst = std::max(selectWorst, double(timer.nsecsElapsed()) / 1e6);
        if (size_t(browser.selection().size()) != count)
            throw std::runtime_error("select all selected " + std::to_string(browser.selection().size()));

        panel->tableView()->scrollToTop();
        panel->tableView()->viewport()->repaint();
        timer.restart();
        panel->tableView()->scrollToBottom();
        panel->tableView()->viewport()->repaint();
        scrollWorst = std::max(scrollWorst, double(timer.nsecsElapsed()) / 1e6);
    }
    const double ratio = median(ratios);
    std::printf("Opening a column of %zu device files, %llu rounds\n", count,
                static_cast<unsigned long long>(*rounds));
    std::printf("column open / provider listing, median: %.3f (target <= 1.2)\n", ratio);
    std::printf("longest main-thread stall while opening: %.1f ms (target <= 50)\n", stallWorst);
    std::printf("select all: %.1f ms, scroll top to bottom: %.1f ms (targets < 100)\n", selectWorst,
                scrollWorst);
    std::printf("column_browser open_ratio=%.3f max_stall_ms=%.1f select_all_ms=%.1f scroll_ms=%.1f\n", ratio,
                stallWorst, selectWorst, scrollWorst);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::runInWorkFolder("column_browser", "/dev/shm", "orvanta-bench", argc, argv, run);
}
