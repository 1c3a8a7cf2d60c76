// Files copied as a selection of files, not as a folder: each is an item of its own, placed in a
// folder of the user's that the transfer did not make, so that each pays for its own placement,
// its copy and the record of its partial copy in the journal of leftovers. Two workloads, each as
// the time a file takes:
//   down    small files selected on the device, copied into a folder of this computer;
//   local   small files selected in a folder of this computer, copied into another.
//
//     single_files [files, default 2000] [rounds, default 5] [bytes a file, default 4096]
//
// Over the in-process device emulator, with the files on /dev/shm so that the disk does not set
// the pace; the data folder, which holds the journal, is on a real disk below /var/tmp, as a
// user's is. The best round of each counts. The last line holds the figures for scripts to read.

#include "BenchArguments.h"
#include "BenchSupport.h"
#include "device/AFCBridge.h"
#include "device/AFCLocation.h"
#include "emulator/Emulator.h"
#include "models/FileItem.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/async/RunSync.h"
#include "platform/async/SystemContinuousClock.h"
#include "services/FileSystemProvider.h"
#include "transfer/TransferManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

const QString udid = QStringLiteral("00008110-00BE4C4B00000003");
constexpr auto noTimeLimit = std::chrono::hours(1);

QString qpath(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

QList<FileItem> filesIn(const URL& folder, size_t count, uint64_t bytes) {
    QList<FileItem> items;
    for (size_t index = 0; index < count; ++index) {
        const URL url = folder.appendingPathComponent(QString::fromStdString(bench::smallFileName(index)));
        items.append(FileItem(url.absoluteString(), url.lastPathComponent(), url, false, bytes, Date::now(),
                              FileKind::other, std::nullopt));
    }
    return items;
}

// One transfer of all the items, to its end; its seconds.
double copySeconds(TransferManager& manager, const QList<FileItem>& items, const std::filesystem::path& to) {
    bench::makeFreshFolder(to);
    QElapsedTimer timer;
    timer.start();
    const Transfer started = manager.startTransfer(items, URL::fileURL(qpath(to), true));
    manager.launchTask(started);
    async::runSync(manager.waitForTransfer(started.id), noTimeLimit);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const Transfer& done = manager.completedTransfers.value().front();
    if (done.state != TransferState::completed)
        throw std::runtime_error("the transfer ended " + done.state.rawValue().toStdString());
    return seconds;
}

int run(int argc, char** argv, const std::filesystem::path& work) {
    const std::optional<uint64_t> countArg =
        argc > 1 ? bench::parseCount("single_files", "files", argv[1], 100000) : 2000;
    const std::optional<uint64_t> roundArg =
        argc > 2 ? bench::parseCount("single_files", "rounds", argv[2], 1000) : 5;
    const std::optional<uint64_t> bytesArg =
        argc > 3 ? bench::parseCount("single_files", "bytes", argv[3], 1 << 20) : 4096;
    if (!countArg || !roundArg || !bytesArg || argc > 4)
        throw std::runtime_error("usage: single_files [files] [rounds] [bytes a file]");
    const size_t count = size_t(*countArg);
    const uint64_t bytes = *bytesArg;
    if (!bench::roomFor("single_files", work, 3 * count * bytes))
        return 2;

    const std::filesystem::path media = work / "media";
    const std::filesystem::path local = work / "local";
    static const char pattern[] = "single files bench bytes ";
    std::filesystem::create_directories(media / "set");
    std::filesystem::create_directories(local / "set");
    for (size_t index = 0; index < count; ++index) {
        bench::makeFile(media / "set" / bench::smallFileName(index), bytes, pattern, sizeof pattern - 1);
        bench::makeFile(local / "set" / bench::smallFileName(index), bytes, pattern, sizeof pattern - 1);
    }
    // Before any thread: settings, history and the journal must not touch the user's.
    const std::filesystem::path data =
        std::filesystem::path("/var/tmp") / ("orvanta-single-files-" + std::to_string(::getpid()));
    struct RemoveData {
        std::filesystem::path path;
        ~RemoveData() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } removeData{data};
    std::filesystem::create_directories(data);
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    UserDefaults::setStandardFilePathForTesting(qpath(work / "defaults.plist"));
    const auto emulator = bench::startEmulator(udid.toStdString(), media);

    QCoreApplication app(argc, argv);
    bench::quietLogging();
    UserDefaults defaults(qpath(work / "defaults.plist"));
    auto bridge = std::make_shared<AFCBridge>();
    auto provider = std::make_shared<FileSystemProvider>(*bridge);
    NotificationCenter notifications;
    TransferManager manager(defaults, async::SystemContinuousClock::shared(), notifications);
    manager.setAFCBridge(bridge);
    manager.setFileSystemProvider(provider);
    async::runSync(bridge->connect(udid));

    const QList<FileItem> fromDevice =
        filesIn(AFCLocation::mediaURL(udid, QStringLiteral("/set")), count, bytes);
    const QList<FileItem> fromHere = filesIn(URL::fileURL(qpath(local / "set"), true), count, bytes);
    double down = 1e300;
    double here = 1e300;
    for (uint64_t round = 0; round < *roundArg; ++round) {
        down = std::min(down, copySeconds(manager, fromDevice, work / "down"));
        bench::checkFolder(work / "down", count, bytes);
        here = std::min(here, copySeconds(manager, fromHere, work / "here"));
        bench::checkFolder(work / "here", count, bytes);
    }
    const double downMicroseconds = down / double(count) * 1e6;
    const double hereMicroseconds = here / double(count) * 1e6;
    std::printf("%zu files of %llu bytes, each an item of its own, best of %llu rounds\n", count,
                static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(*roundArg));
    std::printf("  from the device:      %.3f s, %.1f us a file\n", down, downMicroseconds);
    std::printf("  within this computer: %.3f s, %.1f us a file\n", here, hereMicroseconds);
    std::printf("single_files down_us=%.1f local_us=%.1f\n", downMicroseconds, hereMicroseconds);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::runInWorkFolder("single_files", "/dev/shm", "orvanta-single-files-bench", argc, argv, run);
}
