// Time to list a device folder of many files through FileSystemProvider (session check, the
// bridge's listing, item building and sorting, the hops between threads), beside a bare
// libimobiledevice loop over the same folder in the same run: afc_read_directory, then
// afc_get_file_info for each entry, which is the least any listing with sizes and dates costs.
// Then the time a listing of the same folder takes when the provider's cache answers it.
//
//     provider_listing [files, default 10000] [rounds, default 11]
//
// The device's folder lives on /dev/shm so that the disk does not set the pace. The ratio is the
// median over rounds; the cached figure is the slowest of its rounds. The last line holds the
// figures for scripts to read.

#include "BenchArguments.h"
#include "BenchSupport.h"
#include "device/AFCBridge.h"
#include "device/AFCLocation.h"
#include "device/AFCSessionOpener.h"
#include "emulator/Emulator.h"
#include "platform/async/RunSync.h"
#include "platform/async/SystemContinuousClock.h"
#include "services/FileSystemProvider.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const QString udid = QStringLiteral("00008110-00BE4C4B00000002");
const char* const folder = "/DCIM/100APPLE";
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

// The bare loop: one directory read, then the facts of every entry, freed at once.
size_t bareListing(afc_client_t afc) {
    char** names = nullptr;
    if (afc_read_directory(afc, folder, &names) != AFC_E_SUCCESS || !names)
        throw std::runtime_error("afc_read_directory failed");
    size_t count = 0;
    std::string path = std::string(folder) + "/";
    const size_t prefix = path.size();
    for (char** name = names; *name; ++name) {
        if (std::strcmp(*name, ".") == 0 || std::strcmp(*name, "..") == 0)
            continue;
        path.resize(prefix);
        path += *name;
        char** info = nullptr;
        if (afc_get_file_info(afc, path.c_str(), &info) != AFC_E_SUCCESS || !info)
            throw std::runtime_error("afc_get_file_info failed for " + path);
        afc_dictionary_free(info);
        ++count;
    }
    afc_dictionary_free(names);
    return count;
}

// Seconds of one timed run that must find exactly count entries.
double measure(size_t count, const std::function<size_t()>& run) {
    QElapsedTimer timer;
    timer.start();
    const size_t found = run();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (found != count)
        throw std::runtime_error("a listing found " + std::to_string(found) + " entries of " +
                                 std::to_string(count));
    return seconds;
}

int run(int argc, char** argv, const std::filesystem::path& work) {
    const std::optional<uint64_t> files =
        argc > 1 ? bench::parseCount("provider_listing", "files", argv[1], 1000000) : 10000;
    const std::optional<uint64_t> rounds =
        argc > 2 ? bench::parseCount("provider_listing", "rounds", argv[2], 1000) : 11;
    if (!files || !rounds || argc > 3)
        throw std::runtime_error("usage: provider_listing [files] [rounds]");
    const size_t count = *files;
    // Each file is tiny, but takes a block and an inode of tmpfs.
    if (!bench::roomFor("provider_listing", work, count * 4096))
        return 2;

    const std::filesystem::path media = work / "media";
    makeFiles(media / std::filesystem::path(folder).relative_path(), count);

    const auto emulator = bench::startEmulator(udid.toStdString(), media);

    QCoreApplication app(argc, argv);
    bench::quietLogging();
    AFCSession bare = AFCSessionOpener::openMedia(udid);
    AFCBridge bridge;
    FileSystemProvider provider(bridge, async::SystemContinuousClock::shared());
    const URL url = AFCLocation::mediaURL(udid, QString::fromLatin1(folder));
    async::runSync(bridge.connect(udid));

    const auto providerRun = [&] {
        provider.invalidateCache();
        return static_cast<size_t>(async::runSync(provider.listDirectory(url), noTimeLimit).size());
    };
    const auto bareRun = [&] {
        return bareListing(bare.afc);
    };
    const auto cachedRun = [&] {
        return static_cast<size_t>(async::runSync(provider.listDirectory(url)).size());
    };

    // Other work on the machine comes and goes in bursts that can double a run's time. Each
    // provider run is therefore set between two bare runs and compared with their mean, and the
    // median of these ratios counts: a burst spoils a round or two, not the figure.
    std::vector<double> ratios;
    double bareBest = std::numeric_limits<double>::infinity();
    double providerBest = bareBest;
    double cachedWorst = 0;
    for (uint64_t round = 0; round < *rounds; ++round) {
        const double before = measure(count, bareRun);
        const double timed = measure(count, providerRun);
        const double after = measure(count, bareRun);
        // The cache holds the listing just made.
        cachedWorst = std::max(cachedWorst, measure(count, cachedRun));
        ratios.push_back(timed / ((before + after) / 2));
        bareBest = std::min({bareBest, before, after});
        providerBest = std::min(providerBest, timed);
    }
    bare.release();
    std::sort(ratios.begin(), ratios.end());
    const double ratio = ratios.size() % 2 ? ratios[ratios.size() / 2]
                                           : (ratios[ratios.size() / 2 - 1] + ratios[ratios.size() / 2]) / 2;

    std::printf("Listing %zu device files, %llu rounds\n", count, static_cast<unsigned long long>(*rounds));
    std::printf("fastest: bare loop %.1f ms, FileSystemProvider %.1f ms\n", bareBest * 1e3,
                providerBest * 1e3);
    std::printf("provider / bare loop, median of rounds: %.3f (target <= 1.10; rounds from %.3f to %.3f)\n",
                ratio, ratios.front(), ratios.back());
    std::printf("cached listing: %.3f ms at the slowest (target < 5)\n", cachedWorst * 1e3);
    std::printf("provider_listing ratio=%.3f cached_ms=%.3f\n", ratio, cachedWorst * 1e3);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::runInWorkFolder("provider_listing", "/dev/shm", "orvanta-bench", argc, argv, run);
}
