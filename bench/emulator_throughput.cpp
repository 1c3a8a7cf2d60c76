// How fast the device emulator moves file data: a bare libimobiledevice loop writes and reads one
// large file (512 MiB unless a size in MiB is given) in 1 MiB chunks through AFC, against the
// emulator in this process, with the device's files on /dev/shm so that no disk is measured.
// The same bytes written and read with plain system calls give the baseline of the same run.
// Each figure is the best of a few rounds: other work on the machine only ever slows a round.
//
// Usage: emulator_throughput [MiB [rounds]]

#include "BenchArguments.h"
#include "BenchSupport.h"
#include "emulator/Emulator.h"

#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t chunkBytes = 1u << 20;
constexpr const char* benchUdid = "00008110-00BE0C4D5E6F7081";

using Clock = std::chrono::steady_clock;

struct Speeds {
    double write = 0; // MiB/s
    double read = 0;
    void keepBest(const Speeds& other) {
        write = std::max(write, other.write);
        read = std::max(read, other.read);
    }
};

[[noreturn]] void die(const char* what, int code) {
    std::fprintf(stderr, "emulator_throughput: %s failed (%d)\n", what, code);
    std::exit(1);
}

double mibPerSecond(uint64_t bytes, Clock::duration elapsed) {
    return static_cast<double>(bytes) / (1 << 20) / std::chrono::duration<double>(elapsed).count();
}

std::filesystem::path makeMediaFolder() {
    // tmpfs, so that the figures are the emulator's and the client's, not a disk's.
    std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm/orvanta-bench-XXXXXX"
                                                                    : "/tmp/orvanta-bench-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        die("mkdtemp", errno);
    return pattern;
}

// The baseline: the same file written and read with write(2) and read(2) in the same chunks.
Speeds localRound(const std::filesystem::path& path, const std::vector<char>& chunk, uint64_t chunks) {
    Speeds speeds;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        die("open (baseline)", errno);
    auto start = Clock::now();
    for (uint64_t i = 0; i < chunks; ++i) {
        if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size()))
            die("write (baseline)", errno);
    }
    ::close(fd);
    speeds.write = mibPerSecond(chunks * chunk.size(), Clock::now() - start);

    std::vector<char> buffer(chunk.size());
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        die("open (baseline)", errno);
    start = Clock::now();
    uint64_t total = 0;
    for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
        total += static_cast<uint64_t>(n);
    ::close(fd);
    speeds.read = mibPerSecond(total, Clock::now() - start);
    std::filesystem::remove(path);
    return speeds;
}

// One file written and read back through AFC, as the application's copy loop drives the library.
Speeds afcRound(afc_client_t afc, const std::vector<char>& chunk, uint64_t chunks) {
    Speeds speeds;
    uint64_t handle = 0, written = 0, read = 0;
    auto start = Clock::now();
    if (int e = afc_file_open(afc, "/bench.bin", AFC_FOPEN_WR, &handle))
        die("afc_file_open (write)", e);
    for (uint64_t i = 0; i < chunks; ++i) {
        uint32_t n = 0;
        if (int e = afc_file_write(afc, handle, chunk.data(), chunkBytes, &n))
            die("afc_file_write", e);
        written += n;
    }
    if (int e = afc_file_close(afc, handle))
        die("afc_file_close", e);
    speeds.write = mibPerSecond(written, Clock::now() - start);

    std::vector<char> buffer(chunkBytes);
    bool same = true;
    start = Clock::now();
    if (int e = afc_file_open(afc, "/bench.bin", AFC_FOPEN_RDONLY, &handle))
        die("afc_file_open (read)", e);
    for (;;) {
        uint32_t n = 0;
        if (int e = afc_file_read(afc, handle, buffer.data(), chunkBytes, &n))
            die("afc_file_read", e);
        if (n == 0)
            break;
        same = same && std::memcmp(buffer.data(), chunk.data(), n) == 0;
        read += n;
    }
    afc_file_close(afc, handle);
    speeds.read = mibPerSecond(read, Clock::now() - start);
    if (!same || read != written || written != chunks * chunkBytes) {
        std::fprintf(stderr, "emulator_throughput: read back %llu of %llu bytes%s\n",
                     static_cast<unsigned long long>(read), static_cast<unsigned long long>(written),
                     same ? "" : ", and they differ");
        std::exit(1);
    }
    return speeds;
}

afc_client_t openMedia(idevice_t& device) {
    lockdownd_client_t lockdown = nullptr;
    lockdownd_service_descriptor_t service = nullptr;
    afc_client_t afc = nullptr;
    if (int e = idevice_new(&device, benchUdid))
        die("idevice_new", e);
    if (int e = lockdownd_client_new_with_handshake(device, &lockdown, "emulator_throughput"))
        die("lockdownd_client_new_with_handshake", e);
    if (int e = lockdownd_start_service(lockdown, "com.apple.afc", &service))
        die("lockdownd_start_service", e);
    lockdownd_client_free(lockdown);
    if (int e = afc_client_new(device, service, &afc))
        die("afc_client_new", e);
    lockdownd_service_descriptor_free(service);
    return afc;
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<uint64_t> size =
        argc > 1 ? bench::parseCount("emulator_throughput", "size in MiB", argv[1], 1 << 20) : 512;
    const std::optional<uint64_t> roundCount =
        argc > 2 ? bench::parseCount("emulator_throughput", "rounds", argv[2], 1000) : 3;
    if (!size || !roundCount || argc > 3) {
        std::fprintf(stderr, "usage: emulator_throughput [MiB [rounds]]\n");
        return 2;
    }
    const uint64_t mib = *size;
    const int rounds = static_cast<int>(*roundCount);
    const std::filesystem::path media = makeMediaFolder();
    // One file at a time: the device's copy is removed before the baseline writes its own.
    if (!bench::roomFor("emulator_throughput", media, mib << 20)) {
        std::filesystem::remove_all(media);
        return 2;
    }
    // Before the emulator's first thread: the client library reads its address on every connection.
    std::unique_ptr<fakemux::Emulator> emulator = bench::startEmulator(benchUdid, media);

    std::vector<char> chunk(chunkBytes);
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<char>(i * 31 + 7);

    Speeds afc, local;
    {
        idevice_t device = nullptr;
        afc_client_t client = openMedia(device);
        for (int i = 0; i < rounds; ++i)
            afc.keepBest(afcRound(client, chunk, mib));
        afc_client_free(client);
        idevice_free(device);
    }
    // Gone before the baseline, so that its threads do not share the machine with it.
    emulator.reset();
    std::filesystem::remove(media / "bench.bin");
    for (int i = 0; i < rounds; ++i)
        local.keepBest(localRound(media / "baseline.bin", chunk, mib));
    std::filesystem::remove_all(media);

    std::printf("%llu MiB in 1 MiB chunks, files on %s, best of %d rounds\n",
                static_cast<unsigned long long>(mib), media.parent_path().c_str(), rounds);
    std::printf("AFC write  %8.0f MiB/s   (plain write(2): %8.0f MiB/s, ratio %.2f)\n", afc.write,
                local.write, afc.write / local.write);
    std::printf("AFC read   %8.0f MiB/s   (plain read(2):  %8.0f MiB/s, ratio %.2f)\n", afc.read, local.read,
                afc.read / local.read);
    std::printf("emulator_throughput write_mib_s=%.0f read_mib_s=%.0f write_ratio=%.2f read_ratio=%.2f\n",
                afc.write, afc.read, afc.write / local.write, afc.read / local.read);
    return 0;
}
