// The transfer engine against a bare libimobiledevice loop, in the same run, over the in-process
// device emulator: what a whole transfer (placement, listing, progress, per-file record, report,
// history) costs beyond the copy itself. Four workloads, each as the engine's time divided by the
// bare loop's time for the same copy (below 1 the engine is faster):
//   down, up                 one big file, device to computer and back;
//   folder_down, folder_up   a folder of small files (64 KiB each), where the cost of each file
//                            beyond its bytes sets the pace.
//   move_down                the same small files moved from the device into a folder on a real
//                            disk (not /dev/shm), divided by their copy into the same folder: what
//                            the move adds (one removal a file, the flush of the copies before the
//                            first source goes) beyond the copy.
// Beside them, the peak resident memory of the process during the big copies above its level
// just before them, and the longest gap between ticks of a 5 ms timer on the main thread during
// the engine's copies (what the window would feel).
//
//     transfer_engine [size in MiB, default 1024] [rounds, default 5] [small files, default 2000]
//
// Files live on /dev/shm so that the disk does not set the pace, except move_down's, which go to a
// folder below /var/tmp. The best round of each counts.
// The last line holds the figures for scripts to read.

#include "BenchArguments.h"
#include "BenchSupport.h"
#include "device/AFCBridge.h"
#include "device/AFCLocation.h"
#include "device/AFCSessionOpener.h"
#include "emulator/Emulator.h"
#include "platform/UserDefaults.h"
#include "platform/async/RunSync.h"
#include "platform/async/SystemContinuousClock.h"
#include "services/FileSystemProvider.h"
#include "transfer/TransferManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const QString udid = QStringLiteral("00008110-00BE4C4B00000002");
constexpr uint32_t chunk = AFCBridge::chunkBytes;
constexpr uint64_t smallFileBytes = 64 * 1024;
constexpr auto noTimeLimit = std::chrono::hours(1);

using bench::checkFolder;
using bench::makeFile;
using bench::makeFreshFolder;
using bench::smallFileName;

// The bare loops with the bench's chunk buffer.
uint64_t bareDownload(afc_client_t afc, const std::string& devicePath, const std::filesystem::path& local,
                      char* buffer) {
    return bench::bareDownload(afc, devicePath, local, buffer, chunk);
}

uint64_t bareUpload(afc_client_t afc, const std::string& devicePath, const std::filesystem::path& local,
                    char* buffer) {
    return bench::bareUpload(afc, devicePath, local, buffer, chunk);
}

uint64_t statusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::strtoull(line.c_str() + prefix.size(), nullptr, 10);
    }
    return 0;
}

// Resets the kernel's peak of resident memory to the current level.
void resetPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

struct Engine {
    std::shared_ptr<AFCBridge> bridge = std::make_shared<AFCBridge>();
    std::shared_ptr<FileSystemProvider> provider = std::make_shared<FileSystemProvider>(*bridge);
    NotificationCenter notifications;
    TransferManager manager;

    explicit Engine(UserDefaults& defaults)
        : manager(defaults, async::SystemContinuousClock::shared(), notifications) {
        manager.setAFCBridge(bridge);
        manager.setFileSystemProvider(provider);
    }

    // One transfer of one item, to its end; the bytes it copied.
    uint64_t copy(const URL& source, bool folder, uint64_t size, const URL& destination) {
        const FileItem item(source.absoluteString(), source.lastPathComponent(), source, folder, size,
                            Date::now(), FileKind::other, std::nullopt);
        const Transfer started = manager.startTransfer({item}, destination);
        manager.launchTask(started);
        async::runSync(manager.waitForTransfer(started.id), noTimeLimit);
        const Transfer& done = manager.completedTransfers.value().front();
        if (done.state != TransferState::completed)
            throw std::runtime_error(
                "the transfer ended " + done.state.rawValue().toStdString() +
                (done.error ? ": " + done.error->description().toStdString() : std::string()));
        return done.progress.bytesTransferred;
    }

    // A move of one folder, to its end; its bytes, as counted outside.
    uint64_t move(const URL& source, const URL& destination, uint64_t bytes) {
        const FileItem item(source.absoluteString(), source.lastPathComponent(), source, true, 0, Date::now(),
                            FileKind::other, std::nullopt);
        async::runSync(manager.moveItems({item}, destination), noTimeLimit);
        return bytes;
    }
};

double seconds(const std::function<uint64_t()>& run, uint64_t expected) {
    QElapsedTimer timer;
    timer.start();
    const uint64_t moved = run();
    const double elapsed = double(timer.nsecsElapsed()) / 1e9;
    if (moved != expected)
        throw std::runtime_error("a run moved " + std::to_string(moved) + " bytes of " +
                                 std::to_string(expected));
    return elapsed;
}

struct Best {
    double bare = 1e300;
    double engine = 1e300;
    double ratio() const { return engine / bare; }
};

QString qpath(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

int run(int argc, char** argv, const std::filesystem::path& work) {
    const std::optional<bench::CopySources> sources =
        bench::makeCopySources("transfer_engine", argc, argv, work, 1024, 5, smallFileBytes, chunk);
    if (!sources)
        return 2;
    const auto [size, rounds, fileCount, media, local] = *sources;
    const uint64_t smallTotal = fileCount * smallFileBytes;

    // Before any thread: the engine's settings, history and reports must not touch the user's.
    ::setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
    UserDefaults::setStandardFilePathForTesting(qpath(work / "defaults.plist"));
    const auto emulator = bench::startEmulator(udid.toStdString(), media);

    QCoreApplication app(argc, argv);
    bench::quietLogging();
    AFCSession bare = AFCSessionOpener::openMedia(udid);
    auto buffer = std::make_unique<char[]>(chunk);
    // The engine's own store, not the process-wide one: that one writes its last changes at exit,
    // after the work folder is gone, and would leave the file behind. This one goes with run().
    UserDefaults defaults(qpath(work / "defaults.plist"));
    Engine engine(defaults);
    async::runSync(engine.bridge->connect(udid));
    bench::StallWatch stalls;

    const std::filesystem::path bareDown = local / "down-bare";
    const std::filesystem::path engineDown = local / "down-engine";
    const std::filesystem::path bareUp = media / "up-bare";
    const std::filesystem::path engineUp = media / "up-engine";
    const URL engineDownURL = URL::fileURL(qpath(engineDown));
    const URL engineUpURL = AFCLocation::mediaURL(udid, QStringLiteral("/up-engine"));

    // On a real disk: the flush a move makes before its first deletion costs there what it would
    // cost the user.
    const std::filesystem::path disk =
        std::filesystem::path("/var/tmp") / ("orvanta-engine-move-" + std::to_string(::getpid()));
    const std::filesystem::path diskCopy = disk / "copy";
    const std::filesystem::path diskMove = disk / "move";
    struct RemoveDisk {
        std::filesystem::path path;
        ~RemoveDisk() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } removeDisk{disk};
    std::filesystem::create_directories(disk);

    Best down, up, folderDown, folderUp, moveDown;
    uint64_t peakKiB = 0;
    const auto engineRun = [&](const std::function<uint64_t()>& copy, bool big) {
        return [&, copy, big] {
            if (big)
                resetPeakMemory();
            const uint64_t baseline = statusKiB("VmRSS");
            stalls.start();
            const uint64_t moved = copy();
            stalls.stop();
            if (big)
                peakKiB = std::max(peakKiB, statusKiB("VmHWM") - std::min(baseline, statusKiB("VmHWM")));
            return moved;
        };
    };
    for (uint64_t round = 0; round < rounds; ++round) {
        for (const auto& folder : {bareDown, engineDown, bareUp, engineUp})
            makeFreshFolder(folder);
        // The two take turns going first: the second finds the first's pages still settling.
        const bool engineFirst = round % 2 == 1;
        const auto pair = [&](Best& best, uint64_t expected, const std::function<uint64_t()>& bareCopy,
                              const std::function<uint64_t()>& engineCopy) {
            if (engineFirst)
                best.engine = std::min(best.engine, seconds(engineCopy, expected));
            best.bare = std::min(best.bare, seconds(bareCopy, expected));
            if (!engineFirst)
                best.engine = std::min(best.engine, seconds(engineCopy, expected));
        };

        pair(
            down, size,
            [&] { return bareDownload(bare.afc, "/source.bin", bareDown / "source.bin", buffer.get()); },
            engineRun(
                [&] {
                    return engine.copy(AFCLocation::mediaURL(udid, QStringLiteral("/source.bin")), false,
                                       size, engineDownURL);
                },
                true));
        pair(
            up, size,
            [&] { return bareUpload(bare.afc, "/up-bare/source.bin", local / "source.bin", buffer.get()); },
            engineRun(
                [&] {
                    return engine.copy(URL::fileURL(qpath(local / "source.bin")), false, size, engineUpURL);
                },
                true));
        for (const auto& folder : {bareDown, engineDown, bareUp, engineUp})
            makeFreshFolder(folder);

        pair(
            folderDown, smallTotal,
            [&] {
                uint64_t total = 0;
                for (size_t i = 0; i < fileCount; ++i)
                    total += bareDownload(bare.afc, "/set/" + smallFileName(i), bareDown / smallFileName(i),
                                          buffer.get());
                return total;
            },
            engineRun(
                [&] {
                    // The folder as a browser would show it: listed anew, not from a cache.
                    engine.provider->invalidateCache();
                    return engine.copy(AFCLocation::mediaURL(udid, QStringLiteral("/set")), true, 0,
                                       engineDownURL);
                },
                false));
        pair(
            folderUp, smallTotal,
            [&] {
                uint64_t total = 0;
                for (size_t i = 0; i < fileCount; ++i)
                    total += bareUpload(bare.afc, "/up-bare/" + smallFileName(i),
                                        local / "set" / smallFileName(i), buffer.get());
                return total;
            },
            engineRun([&] { return engine.copy(URL::fileURL(qpath(local / "set")), true, 0, engineUpURL); },
                      false));

        // The move's sources, made anew each round; every copy before it on the disk, so that
        // neither run pays for the other's writes.
        for (const auto& folder : {diskCopy, diskMove})
            makeFreshFolder(folder);
        std::filesystem::copy(local / "set", media / "moving");
        ::sync();
        const auto timedOnDisk = [&](const std::function<uint64_t()>& run) {
            ::sync();
            return seconds(run, smallTotal);
        };
        const auto copyToDisk = [&] {
            engine.provider->invalidateCache();
            return engine.copy(AFCLocation::mediaURL(udid, QStringLiteral("/set")), true, 0,
                               URL::fileURL(qpath(diskCopy)));
        };
        const auto moveToDisk = [&] {
            engine.provider->invalidateCache();
            return engine.move(AFCLocation::mediaURL(udid, QStringLiteral("/moving")),
                               URL::fileURL(qpath(diskMove)), smallTotal);
        };
        if (engineFirst)
            moveDown.engine = std::min(moveDown.engine, timedOnDisk(moveToDisk));
        moveDown.bare = std::min(moveDown.bare, timedOnDisk(copyToDisk));
        if (!engineFirst)
            moveDown.engine = std::min(moveDown.engine, timedOnDisk(moveToDisk));
        checkFolder(diskCopy / "set", fileCount, smallFileBytes);
        checkFolder(diskMove / "moving", fileCount, smallFileBytes);
        if (std::filesystem::exists(media / "moving"))
            throw std::runtime_error("the move left its sources on the device");

        checkFolder(bareDown, fileCount, smallFileBytes);
        checkFolder(engineDown / "set", fileCount, smallFileBytes);
        checkFolder(bareUp, fileCount, smallFileBytes);
        checkFolder(engineUp / "set", fileCount, smallFileBytes);
    }
    bare.release();

    std::printf("Transfer engine against a bare loop, best of %llu rounds (time ratio, lower is better)\n",
                static_cast<unsigned long long>(rounds));
    std::printf("%llu MiB down: bare %.2f s, engine %.2f s, ratio %.2f (target <= 1.0)\n",
                static_cast<unsigned long long>(size >> 20), down.bare, down.engine, down.ratio());
    std::printf("%llu MiB up:   bare %.2f s, engine %.2f s, ratio %.2f (target <= 1.1)\n",
                static_cast<unsigned long long>(size >> 20), up.bare, up.engine, up.ratio());
    std::printf("%zu x 64 KiB down: bare %.2f s, engine %.2f s, ratio %.2f (target <= 1.3)\n", fileCount,
                folderDown.bare, folderDown.engine, folderDown.ratio());
    std::printf("%zu x 64 KiB up:   bare %.2f s, engine %.2f s, ratio %.2f (target <= 1.5)\n", fileCount,
                folderUp.bare, folderUp.engine, folderUp.ratio());
    std::printf("%zu x 64 KiB moved down to a disk: copy %.2f s, move %.2f s, ratio %.2f (target <= 1.35)\n",
                fileCount, moveDown.bare, moveDown.engine, moveDown.ratio());
    std::printf("peak memory above baseline during the big copies: %llu MiB (target <= 64)\n",
                static_cast<unsigned long long>(peakKiB / 1024));
    std::printf("longest main-thread stall: %.1f ms (target <= 50)\n", stalls.longestMs());
    std::printf(
        "transfer_engine down=%.2f up=%.2f folder_down=%.2f folder_up=%.2f rss_mib=%llu max_stall_ms=%.0f "
        "move_down=%.2f\n",
        down.ratio(), up.ratio(), folderDown.ratio(), folderUp.ratio(),
        static_cast<unsigned long long>(peakKiB / 1024), stalls.longestMs(), moveDown.ratio());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::runInWorkFolder("transfer_engine", "/dev/shm", "orvanta-engine-bench", argc, argv, run);
}
