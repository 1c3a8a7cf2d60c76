// Throughput of AFCBridge downloads and uploads against the in-process device emulator, each
// measured beside a bare libimobiledevice loop over the same session kind with the same 1 MiB
// chunks (read a chunk, then write it), in the same run, so that the ratio says what the bridge
// adds or saves whatever the machine's speed.
//
// Two workloads, each way: one big file, and a folder of small files (64 KiB each) copied one
// file at a time, where what a copy costs beyond its bytes (opening, closing, renaming, the trip
// through the bridge's executor and back to the main loop) sets the pace.
//
//     afc_transfer [size in MiB, default 512] [rounds, default 3] [small files, default 2000]
//
// Files live on /dev/shm so that the disk does not set the pace. The best round of each counts.
// The last line of the output holds the four ratios (bridge / bare loop) for scripts to read.

#include "BenchArguments.h"
#include "BenchSupport.h"
#include "device/AFCBridge.h"
#include "device/AFCSessionOpener.h"
#include "emulator/Emulator.h"
#include "platform/async/RunSync.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const QString udid = QStringLiteral("00008110-00BE4C4B00000001");
constexpr uint32_t chunk = AFCBridge::chunkBytes;
constexpr uint64_t smallFileBytes = 64 * 1024;
constexpr auto noTimeLimit = std::chrono::hours(1);

using bench::makeFile;
using bench::smallFileName;

// One copy of the small-file workload, named as the bare loop wants it...
struct BareCopy {
    std::string devicePath;
    std::filesystem::path localPath;
};

// ...and as the bridge wants it; both are built before any clock starts.
struct BridgeCopy {
    QString devicePath;
    URL localURL;
};

std::vector<BareCopy> copiesBetween(const std::string& deviceFolder, const std::filesystem::path& localFolder,
                                    size_t count) {
    std::vector<BareCopy> copies;
    copies.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const std::string name = smallFileName(i);
        copies.push_back({deviceFolder + "/" + name, localFolder / name});
    }
    return copies;
}

std::vector<BridgeCopy> forBridge(const std::vector<BareCopy>& copies) {
    std::vector<BridgeCopy> result;
    result.reserve(copies.size());
    for (const BareCopy& copy : copies)
        result.push_back({QString::fromStdString(copy.devicePath),
                          URL::fileURL(QString::fromStdString(copy.localPath.string()))});
    return result;
}

// File after file, each awaited before the next starts, as a transfer of a folder goes.
async::Task<uint64_t> bridgeDownloadAll(AFCBridge* bridge, std::vector<BridgeCopy> copies) {
    uint64_t total = 0;
    // By index: nothing refers into the vector across an await.
    for (size_t i = 0; i < copies.size(); ++i) {
        async::Task<quint64> one =
            bridge->download(udid, copies[i].devicePath, copies[i].localURL, std::nullopt, {});
        total += co_await one;
    }
    co_return total;
}

async::Task<uint64_t> bridgeUploadAll(AFCBridge* bridge, std::vector<BridgeCopy> copies) {
    uint64_t total = 0;
    for (size_t i = 0; i < copies.size(); ++i) {
        async::Task<quint64> one =
            bridge->uploadFile(udid, copies[i].devicePath, copies[i].localURL, std::nullopt, {});
        total += co_await one;
    }
    co_return total;
}

// MiB/s of one timed run that must move exactly size bytes.
double measure(uint64_t size, const std::function<uint64_t()>& run) {
    QElapsedTimer timer;
    timer.start();
    const uint64_t moved = run();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (moved != size)
        throw std::runtime_error("a run moved " + std::to_string(moved) + " bytes of " +
                                 std::to_string(size));
    return static_cast<double>(size) / (1024.0 * 1024.0) / seconds;
}

struct Best {
    double bare = 0;
    double bridge = 0;
    double ratio() const { return bridge / bare; }
};

void measurePair(Best& best, uint64_t size, bool bridgeFirst, const std::function<uint64_t()>& bareRun,
                 const std::function<uint64_t()>& bridgeRun) {
    if (bridgeFirst)
        best.bridge = std::max(best.bridge, measure(size, bridgeRun));
    best.bare = std::max(best.bare, measure(size, bareRun));
    if (!bridgeFirst)
        best.bridge = std::max(best.bridge, measure(size, bridgeRun));
}

// The bare loops with the bench's chunk buffer.
uint64_t bareDownload(afc_client_t afc, const std::string& devicePath, const std::filesystem::path& local,
                      char* buffer) {
    return bench::bareDownload(afc, devicePath, local, buffer, chunk);
}

uint64_t bareUpload(afc_client_t afc, const std::string& devicePath, const std::filesystem::path& local,
                    char* buffer) {
    return bench::bareUpload(afc, devicePath, local, buffer, chunk);
}

int run(int argc, char** argv, const std::filesystem::path& work) {
    const std::optional<bench::CopySources> sources =
        bench::makeCopySources("afc_transfer", argc, argv, work, 512, 3, smallFileBytes, chunk);
    if (!sources)
        return 2;
    const auto [size, rounds, fileCount, media, local] = *sources;
    const uint64_t smallTotal = fileCount * smallFileBytes;

    // Each side copies into folders of its own, emptied between rounds off the clock.
    const std::filesystem::path bareDownFolder = local / "down-bare";
    const std::filesystem::path bridgeDownFolder = local / "down-bridge";
    const std::filesystem::path bareUpFolder = media / "up-bare";
    const std::filesystem::path bridgeUpFolder = media / "up-bridge";
    const std::vector<BareCopy> bareDown = copiesBetween("/set", bareDownFolder, fileCount);
    const std::vector<BridgeCopy> bridgeDown = forBridge(copiesBetween("/set", bridgeDownFolder, fileCount));
    const std::vector<BareCopy> bareUp = copiesBetween("/up-bare", local / "set", fileCount);
    const std::vector<BridgeCopy> bridgeUp = forBridge(copiesBetween("/up-bridge", local / "set", fileCount));

    // Before any thread: the journal of what copies leave behind must not be the user's.
    ::setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
    const auto emulator = bench::startEmulator(udid.toStdString(), media);

    QCoreApplication app(argc, argv);
    bench::quietLogging();
    AFCSession bare = AFCSessionOpener::openMedia(udid);
    AFCBridge bridge;
    async::runSync(bridge.connect(udid));
    auto buffer = std::make_unique<char[]>(chunk);

    Best download, upload, filesDown, filesUp;
    for (uint64_t round = 0; round < rounds; ++round) {
        download.bare =
            std::max(download.bare, measure(size, [&] {
                         return bareDownload(bare.afc, "/source.bin", local / "bare.bin", buffer.get());
                     }));
        download.bridge = std::max(
            download.bridge, measure(size, [&] {
                return async::runSync(
                    bridge.download(udid, QStringLiteral("/source.bin"),
                                    URL::fileURL(QString::fromStdString((local / "bridge.bin").string())),
                                    std::nullopt, {}),
                    noTimeLimit);
            }));
        upload.bare =
            std::max(upload.bare, measure(size, [&] {
                         return bareUpload(bare.afc, "/bare-up.bin", local / "source.bin", buffer.get());
                     }));
        upload.bridge = std::max(
            upload.bridge, measure(size, [&] {
                return async::runSync(
                    bridge.uploadFile(udid, QStringLiteral("/bridge-up.bin"),
                                      URL::fileURL(QString::fromStdString((local / "source.bin").string())),
                                      std::nullopt),
                    noTimeLimit);
            }));
        std::filesystem::remove(local / "bare.bin");
        std::filesystem::remove(local / "bridge.bin");
        std::filesystem::remove(media / "bare-up.bin");
        std::filesystem::remove(media / "bridge-up.bin");

        for (const auto& folder : {bareDownFolder, bridgeDownFolder, bareUpFolder, bridgeUpFolder})
            bench::makeFreshFolder(folder);
        // Whichever side goes second finds the other's thousands of files still settling (pages
        // being freed, threads just woken), so the two take turns going first.
        const bool bridgeFirst = round % 2 == 1;
        measurePair(
            filesDown, smallTotal, bridgeFirst,
            [&] {
                uint64_t total = 0;
                for (const BareCopy& copy : bareDown)
                    total += bareDownload(bare.afc, copy.devicePath, copy.localPath, buffer.get());
                return total;
            },
            [&] { return async::runSync(bridgeDownloadAll(&bridge, bridgeDown), noTimeLimit); });
        measurePair(
            filesUp, smallTotal, bridgeFirst,
            [&] {
                uint64_t total = 0;
                for (const BareCopy& copy : bareUp)
                    total += bareUpload(bare.afc, copy.devicePath, copy.localPath, buffer.get());
                return total;
            },
            [&] { return async::runSync(bridgeUploadAll(&bridge, bridgeUp), noTimeLimit); });
        for (const auto& folder : {bareDownFolder, bridgeDownFolder, bareUpFolder, bridgeUpFolder}) {
            bench::checkFolder(folder, fileCount, smallFileBytes);
            std::filesystem::remove_all(folder);
        }
    }
    bare.release();

    std::printf("AFC transfer of %llu MiB in 1 MiB chunks, best of %llu rounds\n",
                static_cast<unsigned long long>(size >> 20), static_cast<unsigned long long>(rounds));
    std::printf("download: bare loop %8.1f MiB/s, AFCBridge %8.1f MiB/s, ratio %.2f (target >= 1.00)\n",
                download.bare, download.bridge, download.ratio());
    std::printf("upload:   bare loop %8.1f MiB/s, AFCBridge %8.1f MiB/s, ratio %.2f (target >= 0.90)\n",
                upload.bare, upload.bridge, upload.ratio());
    std::printf("%zu files of %llu KiB, one at a time, best of %llu rounds\n", fileCount,
                static_cast<unsigned long long>(smallFileBytes / 1024),
                static_cast<unsigned long long>(rounds));
    std::printf("download: bare loop %8.1f MiB/s, AFCBridge %8.1f MiB/s, ratio %.2f (%.0f vs %.0f files/s)\n",
                filesDown.bare, filesDown.bridge, filesDown.ratio(),
                filesDown.bare * 1024 * 1024 / smallFileBytes,
                filesDown.bridge * 1024 * 1024 / smallFileBytes);
    std::printf("upload:   bare loop %8.1f MiB/s, AFCBridge %8.1f MiB/s, ratio %.2f (%.0f vs %.0f files/s)\n",
                filesUp.bare, filesUp.bridge, filesUp.ratio(), filesUp.bare * 1024 * 1024 / smallFileBytes,
                filesUp.bridge * 1024 * 1024 / smallFileBytes);
    std::printf("afc_transfer down=%.2f up=%.2f files_down=%.2f files_up=%.2f\n", download.ratio(),
                upload.ratio(), filesDown.ratio(), filesUp.ratio());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::runInWorkFolder("afc_transfer", "/dev/shm", "orvanta-bench", argc, argv, run);
}
