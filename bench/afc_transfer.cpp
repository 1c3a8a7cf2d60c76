// Throughput of AFCBridge downloads and uploads against the in-process device emulator, each
// measured beside a bare libimobiledevice loop over the same session kind with the same 1 MiB
// chunks (read a chunk, then write it), in the same run, so that the ratio says what the bridge
// adds or saves whatever the machine's speed.
//
//     afc_transfer [size in MiB, default 512] [rounds, default 3]
//
// Files live on /dev/shm so that the disk does not set the pace. The best round of each counts.

#include "device/AFCBridge.h"
#include "device/AFCSessionOpener.h"
#include "emulator/Emulator.h"
#include "platform/async/RunSync.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

const QString kUdid = QStringLiteral("00008110-00BE4C4B00000001");
constexpr uint32_t kChunk = AFCBridge::chunkBytes;
constexpr auto kNoTimeLimit = std::chrono::hours(1);

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + (errno ? std::string(": ") + std::strerror(errno) : std::string()));
}

void makeFile(const std::filesystem::path& path, uint64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        fail("cannot create " + path.string());
    auto chunk = std::make_unique<char[]>(kChunk);
    for (uint32_t i = 0; i < kChunk; ++i)
        chunk[i] = static_cast<char>(i * 131 + 7);
    for (uint64_t done = 0; done < size;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, size - done));
        if (::write(fd, chunk.get(), n) != static_cast<ssize_t>(n))
            fail("cannot write " + path.string());
        done += n;
    }
    ::close(fd);
}

// The bare loops, on a session opened just as the bridge opens its own.
uint64_t bareDownload(afc_client_t afc, const char* devicePath, const std::filesystem::path& local) {
    uint64_t handle = 0;
    if (afc_file_open(afc, devicePath, AFC_FOPEN_RDONLY, &handle) != AFC_E_SUCCESS)
        fail("afc_file_open");
    const int fd = ::open(local.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        fail("open " + local.string());
    auto buffer = std::make_unique<char[]>(kChunk);
    uint64_t total = 0;
    for (;;) {
        uint32_t got = 0;
        if (afc_file_read(afc, handle, buffer.get(), kChunk, &got) != AFC_E_SUCCESS)
            fail("afc_file_read");
        if (got == 0)
            break;
        if (::write(fd, buffer.get(), got) != static_cast<ssize_t>(got))
            fail("write");
        total += got;
    }
    ::close(fd);
    afc_file_close(afc, handle);
    return total;
}

uint64_t bareUpload(afc_client_t afc, const char* devicePath, const std::filesystem::path& local) {
    const int fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail("open " + local.string());
    uint64_t handle = 0;
    if (afc_file_open(afc, devicePath, AFC_FOPEN_WR, &handle) != AFC_E_SUCCESS)
        fail("afc_file_open(WR)");
    auto buffer = std::make_unique<char[]>(kChunk);
    uint64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.get(), kChunk);
        if (got < 0)
            fail("read");
        if (got == 0)
            break;
        uint32_t written = 0;
        if (afc_file_write(afc, handle, buffer.get(), static_cast<uint32_t>(got), &written) !=
                AFC_E_SUCCESS ||
            written != static_cast<uint32_t>(got))
            fail("afc_file_write");
        total += static_cast<uint64_t>(got);
    }
    afc_file_close(afc, handle);
    ::close(fd);
    return total;
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
};

int run(int argc, char** argv, const std::filesystem::path& work) {
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    if (mib == 0)
        throw std::runtime_error("usage: afc_transfer [size in MiB] [rounds]");
    const uint64_t size = mib << 20;

    const std::filesystem::path media = work / "media";
    const std::filesystem::path local = work / "local";
    std::filesystem::create_directories(media);
    std::filesystem::create_directories(local);
    makeFile(media / "source.bin", size);
    makeFile(local / "source.bin", size);

    // Set before the emulator starts its first thread: the client library reads it on every
    // connection, and setenv races with getenv.
    const std::filesystem::path muxFolder = fakemux::Emulator::makeFolder();
    ::setenv("USBMUXD_SOCKET_ADDRESS", fakemux::Emulator::socketAddressFor(muxFolder).c_str(), 1);
    fakemux::Emulator emulator(muxFolder);
    fakemux::DeviceDescription description;
    description.udid = kUdid.toStdString();
    description.mediaRoot = media;
    emulator.addDevice(description);

    QCoreApplication app(argc, argv);
    // Per-copy log lines would interleave with the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("io.halvorn.orvanta.*.debug=false\n"
                                                    "io.halvorn.orvanta.*.info=false"));
    AFCSession bare = AFCSessionOpener::openMedia(kUdid);
    AFCBridge bridge;
    async::runSync(bridge.connect(kUdid));

    Best download, upload;
    for (int round = 0; round < rounds; ++round) {
        download.bare = std::max(download.bare, measure(size, [&] {
                                     return bareDownload(bare.afc, "/source.bin", local / "bare.bin");
                                 }));
        download.bridge = std::max(
            download.bridge, measure(size, [&] {
                return async::runSync(
                    bridge.download(kUdid, QStringLiteral("/source.bin"),
                                    URL::fileURL(QString::fromStdString((local / "bridge.bin").string())),
                                    std::nullopt, {}),
                    kNoTimeLimit);
            }));
        upload.bare = std::max(upload.bare, measure(size, [&] {
                                   return bareUpload(bare.afc, "/bare-up.bin", local / "source.bin");
                               }));
        upload.bridge = std::max(
            upload.bridge, measure(size, [&] {
                return async::runSync(
                    bridge.uploadFile(kUdid, QStringLiteral("/bridge-up.bin"),
                                      URL::fileURL(QString::fromStdString((local / "source.bin").string())),
                                      std::nullopt),
                    kNoTimeLimit);
            }));
        std::filesystem::remove(local / "bare.bin");
        std::filesystem::remove(local / "bridge.bin");
        std::filesystem::remove(media / "bare-up.bin");
        std::filesystem::remove(media / "bridge-up.bin");
    }
    bare.release();

    std::printf("AFC transfer of %llu MiB in 1 MiB chunks, best of %d rounds\n",
                static_cast<unsigned long long>(mib), rounds);
    std::printf("download: bare loop %8.1f MiB/s, AFCBridge %8.1f MiB/s, ratio %.2f (target >= 1.00)\n",
                download.bare, download.bridge, download.bridge / download.bare);
    std::printf("upload:   bare loop %8.1f MiB/s, AFCBridge %8.1f MiB/s, ratio %.2f (target >= 0.90)\n",
                upload.bare, upload.bridge, upload.bridge / upload.bare);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    char pattern[] = "/dev/shm/orvanta-bench-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("mkdtemp on /dev/shm");
        return 1;
    }
    const std::filesystem::path work = pattern;
    int status = 1;
    try {
        status = run(argc, argv, work);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "afc_transfer: %s\n", e.what());
    }
    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
    return status;
}
