// Speed of a drag of device photos out to another program: from the receiver's request for the
// dropped files to the URLs handed over (every photo copied straight from the device into the
// drag's folder), against the transfer engine copying the same photos to a folder in the same
// run. Meanwhile a 5 ms timer on the main thread measures the longest gap between its ticks: the
// request waits in a local event loop, and the window must keep drawing.
//
//     drag_out [rounds, default 5]
//
// Over the in-process device emulator, with files on /dev/shm so that the disk does not set the
// pace. The two sides take turns going first, and the best round of each counts. The last line
// holds the figures for scripts to read.

#include "BenchArguments.h"
#include "BenchSupport.h"
#include "browser/DragAndDropHandler.h"
#include "browser/DragOutProduction.h"
#include "browser/OrvantaDragMimeData.h"
#include "device/AFCBridge.h"
#include "device/AFCLocation.h"
#include "emulator/Emulator.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/async/RunSync.h"
#include "platform/async/SystemContinuousClock.h"
#include "services/FileSystemProvider.h"
#include "transfer/TransferManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace {

const QString udid = QStringLiteral("00008110-00BE4C4B0000001A");
constexpr int photoCount = 20;
constexpr uint64_t photoBytes = 3'000'000;
constexpr auto noTimeLimit = std::chrono::hours(1);

QString photoName(int index) {
    return QStringLiteral("IMG_%1.JPG").arg(index + 1, 4, 10, QLatin1Char('0'));
}

QList<FileItem> photos() {
    QList<FileItem> items;
    for (int index = 0; index < photoCount; ++index) {
        const URL url = AFCLocation::mediaURL(udid, QStringLiteral("/DCIM/100APPLE/") + photoName(index));
        items.append(FileItem(url.absoluteString(), url.lastPathComponent(), url, false, photoBytes,
                              Date::now(), FileKind::image, std::nullopt));
    }
    return items;
}

double engineSeconds(TransferManager& manager, const std::filesystem::path& folder) {
    bench::makeFreshFolder(folder);
    QElapsedTimer timer;
    timer.start();
    async::runSync(manager.transferAndAwait(
                       photos(), URL::fileURL(QString::fromStdString(folder.string()), true), std::nullopt),
                   noTimeLimit);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    for (int index = 0; index < photoCount; ++index) {
        const std::filesystem::path copy = folder / photoName(index).toStdString();
        if (!std::filesystem::is_regular_file(copy) || std::filesystem::file_size(copy) != photoBytes)
            throw std::runtime_error("the engine's copy is incomplete: " + copy.string());
    }
    return seconds;
}

double dragOutSeconds(const std::shared_ptr<DragAndDropHandler>& handler, const std::filesystem::path& folder,
                      bench::StallWatch& stalls) {
    bench::makeFreshFolder(folder);
    handler->setStagingRoot(QString::fromStdString(folder.string()));
    const QList<FileItem> items = photos();
    const std::shared_ptr<DragOutProduction> production = DragOutProduction::create(handler, items);
    OrvantaDragMimeData data(items);
    production->install(data);
    stalls.start();
    QElapsedTimer timer;
    timer.start();
    const QList<QUrl> urls = data.urls();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    stalls.stop();
    if (urls.size() != photoCount)
        throw std::runtime_error("the drag handed over " + std::to_string(urls.size()) + " files");
    for (const QUrl& url : urls) {
        if (uint64_t(QFileInfo(url.toLocalFile()).size()) != photoBytes)
            throw std::runtime_error("a produced photo is incomplete: " + url.toLocalFile().toStdString());
    }
    return seconds;
}

int run(int argc, char** argv, const std::filesystem::path& work) {
    const std::optional<uint64_t> roundArg =
        argc > 1 ? bench::parseCount("drag_out", "rounds", argv[1], 1000) : 5;
    if (!roundArg || argc > 2)
        throw std::runtime_error("usage: drag_out [rounds]");
    if (!bench::roomFor("drag_out", work, 4 * photoCount * photoBytes))
        return 2;
    const int rounds = int(*roundArg);

    const std::filesystem::path media = work / "media";
    std::filesystem::create_directories(media / "DCIM" / "100APPLE");
    static const char pattern[] = "drag out bench photo bytes ";
    for (int index = 0; index < photoCount; ++index)
        bench::makeFile(media / "DCIM" / "100APPLE" / photoName(index).toStdString(), photoBytes, pattern,
                        sizeof pattern - 1);
    const auto emulator = bench::startEmulator(udid.toStdString(), media);
    // The engine's reports must land in the work folder, not the user's.
    qputenv("XDG_DATA_HOME", (work / "data").string().c_str());

    QCoreApplication app(argc, argv);
    bench::quietLogging();
    UserDefaults defaults(QString::fromStdString((work / "defaults.plist").string()));
    NotificationCenter notifications;
    auto bridge = std::make_shared<AFCBridge>();
    auto provider = std::make_shared<FileSystemProvider>(*bridge);
    auto manager =
        std::make_shared<TransferManager>(defaults, async::SystemContinuousClock::shared(), notifications);
    manager->setAFCBridge(bridge);
    manager->setFileSystemProvider(provider);
    async::runSync(bridge->connect(udid), noTimeLimit);
    const std::shared_ptr<DragAndDropHandler> handler = DragAndDropHandler::create(manager);

    bench::StallWatch stalls;
    double engine = 1e9;
    double dragOut = 1e9;
    for (int round = 0; round < rounds; ++round) {
        const auto engineFolder = work / ("engine" + std::to_string(round));
        const auto dragFolder = work / ("drag" + std::to_string(round));
        if (round % 2 == 0) {
            engine = std::min(engine, engineSeconds(*manager, engineFolder));
            dragOut = std::min(dragOut, dragOutSeconds(handler, dragFolder, stalls));
        } else {
            dragOut = std::min(dragOut, dragOutSeconds(handler, dragFolder, stalls));
            engine = std::min(engine, engineSeconds(*manager, engineFolder));
        }
        std::filesystem::remove_all(engineFolder);
        std::filesystem::remove_all(dragFolder);
    }

    std::printf("%d device photos of %.1f MB, best of %d rounds\n", photoCount, double(photoBytes) / 1e6,
                rounds);
    std::printf("  transfer engine to a folder %7.1f ms, drag out request to URLs %7.1f ms, ratio %.2f "
                "(target <= 1.20)\n",
                engine * 1e3, dragOut * 1e3, dragOut / engine);
    std::printf("main thread: longest gap between ticks of a 5 ms timer %.1f ms (target <= 50)\n",
                stalls.longestMs());
    std::printf("drag_out ratio=%.2f max_stall_ms=%.1f\n", dragOut / engine, stalls.longestMs());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::runInWorkFolder("drag_out", "/dev/shm", "orvanta-bench", argc, argv, run);
}
