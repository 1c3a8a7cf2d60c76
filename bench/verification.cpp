// What checking copies costs, and what a move within one device saves, over the in-process
// device emulator:
//   cost                 (a 1 GiB device-to-computer copy with "verifyTransfers" on, minus the
//                        same copy with it off) divided by the time to hash 2 GiB held in memory
//                        with the same hasher: how far reading for the check overlaps hashing;
//   device_move_vs_copy  moving a folder of small files (64 KiB each) to another folder of the
//                        same device, divided by copying it there.
//
//     verification [size in MiB, default 1024] [rounds, default 3] [small files, default 2000]
//
// Files live on /dev/shm so that the disk does not set the pace. The best round of each counts.
// The last line holds the figures for scripts to read.

#include "BenchArguments.h"
#include "BenchSupport.h"
#include "device/AFCBridge.h"
#include "device/AFCLocation.h"
#include "emulator/Emulator.h"
#include "platform/UserDefaults.h"
#include "platform/async/RunSync.h"
#include "platform/async/SystemContinuousClock.h"
#include "services/FileSystemProvider.h"
#include "services/PreferencesViewController.h"
#include "transfer/Sha256.h"
#include "transfer/TransferManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

const QString udid = QStringLiteral("00008110-00BE4C4B00000003");
constexpr uint64_t smallFileBytes = 64 * 1024;
constexpr uint64_t hashedBytes = uint64_t(2) << 30;
constexpr auto noTimeLimit = std::chrono::hours(1);

QString qpath(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

FileItem itemAt(const URL& url, bool folder, uint64_t size) {
    return FileItem(url.absoluteString(), url.lastPathComponent(), url, folder, size, Date::now(),
                    FileKind::other, std::nullopt);
}

double timed(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e9;
}

int run(int argc, char** argv, const std::filesystem::path& work) {
    const std::optional<uint64_t> mib =
        argc > 1 ? bench::parseCount("verification", "size in MiB", argv[1], 1 << 20) : 1024;
    const std::optional<uint64_t> rounds =
        argc > 2 ? bench::parseCount("verification", "rounds", argv[2], 1000) : 3;
    const std::optional<uint64_t> files =
        argc > 3 ? bench::parseCount("verification", "small files", argv[3], 1000000) : 2000;
    if (!mib || !rounds || !files || argc > 4)
        throw std::runtime_error("usage: verification [size in MiB] [rounds] [small files]");
    const uint64_t size = *mib << 20;
    if (!bench::roomFor("verification", work, 3 * size + 3 * *files * smallFileBytes))
        return 2;

    std::string pattern(1 << 20, '\0');
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = char(i * 131 + 7);
    const std::filesystem::path media = work / "media";
    const std::filesystem::path local = work / "local";
    std::filesystem::create_directories(media / "set");
    std::filesystem::create_directories(media / "moved");
    std::filesystem::create_directories(media / "copied");
    std::filesystem::create_directories(local);
    bench::makeFile(media / "source.bin", size, pattern.data(), pattern.size());
    for (uint64_t i = 0; i < *files; ++i) {
        bench::makeFile(media / "set" / bench::smallFileName(i), smallFileBytes, pattern.data(),
                        pattern.size());
    }

    ::setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
    UserDefaults::setStandardFilePathForTesting(qpath(work / "defaults.plist"));
    const auto emulator = bench::startEmulator(udid.toStdString(), media);
    QCoreApplication app(argc, argv);
    bench::quietLogging();

    auto bridge = std::make_shared<AFCBridge>();
    auto provider = std::make_shared<FileSystemProvider>(*bridge);
    NotificationCenter notifications;
    TransferManager manager(UserDefaults::standard(), async::SystemContinuousClock::shared(), notifications);
    manager.setAFCBridge(bridge);
    manager.setFileSystemProvider(provider);
    async::runSync(bridge->connect(udid));

    // The hasher alone, on data held in memory.
    double hashSeconds = 1e300;
    {
        const std::string block(64 << 20, 'x');
        for (uint64_t round = 0; round < *rounds; ++round) {
            hashSeconds = std::min(hashSeconds, timed([&] {
                                       Sha256 hash;
                                       for (uint64_t done = 0; done < hashedBytes; done += block.size())
                                           hash.update(block.data(), qsizetype(block.size()));
                                       (void)hash.finalizeHex();
                                   }));
        }
    }

    const URL source = AFCLocation::mediaURL(udid, QStringLiteral("/source.bin"));
    const URL down = URL::fileURL(qpath(local));
    const auto copyDown = [&](bool verify) {
        PreferencesViewController::defaults().set(PreferencesViewController::verifyTransfersKey, verify);
        std::filesystem::remove(local / "source.bin");
        const double elapsed = timed([&] {
            async::runSync(manager.transferAndAwait({itemAt(source, false, size)}, down, std::nullopt),
                           noTimeLimit);
        });
        const Transfer& done = manager.completedTransfers.value().front();
        const TransferVerificationOutcome expected =
            verify ? TransferVerificationOutcome::verified : TransferVerificationOutcome::skipped;
        if (done.reportEntries.size() != 1 || done.reportEntries.front().verificationOutcome() != expected)
            throw std::runtime_error("the copy did not end with the expected check");
        return elapsed;
    };
    double plain = 1e300;
    double verified = 1e300;
    for (uint64_t round = 0; round < *rounds; ++round) {
        plain = std::min(plain, copyDown(false));
        verified = std::min(verified, copyDown(true));
    }
    PreferencesViewController::defaults().set(PreferencesViewController::verifyTransfersKey, false);

    const URL set = AFCLocation::mediaURL(udid, QStringLiteral("/set"));
    const URL moved = AFCLocation::mediaURL(udid, QStringLiteral("/moved"));
    const URL movedSet = AFCLocation::mediaURL(udid, QStringLiteral("/moved/set"));
    const URL root = AFCLocation::mediaURL(udid, QStringLiteral("/"));
    const URL copied = AFCLocation::mediaURL(udid, QStringLiteral("/copied"));
    double copySeconds = 1e300;
    double moveSeconds = 1e300;
    for (uint64_t round = 0; round < *rounds; ++round) {
        std::filesystem::remove_all(media / "copied" / "set");
        provider->invalidateCache();
        copySeconds = std::min(copySeconds, timed([&] {
                                   async::runSync(
                                       manager.transferAndAwait({itemAt(set, true, 0)}, copied, std::nullopt),
                                       noTimeLimit);
                               }));
        moveSeconds = std::min(
            moveSeconds,
            timed([&] { async::runSync(manager.moveItems({itemAt(set, true, 0)}, moved), noTimeLimit); }));
        if (!std::filesystem::exists(media / "moved" / "set" / "f00000.bin") ||
            std::filesystem::exists(media / "set"))
            throw std::runtime_error("the move did not move the folder");
        async::runSync(manager.moveItems({itemAt(movedSet, true, 0)}, root), noTimeLimit);
    }

    // Each side of a check on its own, to show where its time goes.
    const double deviceHash = timed([&] { (void)async::runSync(manager.sha256Hex(source), noTimeLimit); });
    const double localHash = timed([&] {
        (void)async::runSync(manager.sha256Hex(URL::fileURL(qpath(local / "source.bin"))), noTimeLimit);
    });
    std::printf("hash of the device file %.2f s, of its copy %.2f s\n", deviceHash, localHash);
    const double cost = (verified - plain) / hashSeconds;
    const double moveRatio = moveSeconds / copySeconds;
    std::printf("hash 2 GiB in memory: %.2f s (%.0f MB/s)\n", hashSeconds,
                double(hashedBytes) / hashSeconds / 1e6);
    std::printf("%llu MiB down: %.2f s plain, %.2f s checked; cost %.2f (target <= 1.3)\n",
                static_cast<unsigned long long>(*mib), plain, verified, cost);
    std::printf("%llu x 64 KiB within the device: copy %.3f s, move %.3f s, ratio %.3f (target <= 0.2)\n",
                static_cast<unsigned long long>(*files), copySeconds, moveSeconds, moveRatio);
    std::printf("verification cost=%.2f device_move_vs_copy=%.4f\n", cost, moveRatio);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::runInWorkFolder("verification", "/dev/shm", "orvanta-verification-bench", argc, argv, run);
}
