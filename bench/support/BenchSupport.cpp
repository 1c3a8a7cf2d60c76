#include "BenchSupport.h"
#include "BenchArguments.h"

#include "emulator/Emulator.h"
#include "platform/UserDefaults.h"

#include <QLoggingCategory>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <fcntl.h>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace bench {

int runInWorkFolder(const char* tool, const char* parent, const char* prefix, int argc, char** argv,
                    const std::function<int(int, char**, const std::filesystem::path&)>& run) {
    std::string pattern = std::string(parent) + "/" + prefix + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror(
            (std::string("mkdtemp ") + (std::strcmp(parent, "/dev/shm") == 0 ? "on " : "in ") + parent)
                .c_str());
        return 1;
    }
    const std::filesystem::path work = pattern;
    // The standard defaults, made during the run, write what is pending when the process ends,
    // after the folder below is gone, and would leave it behind on /dev/shm, in memory, run after
    // run. Registered before that store is made, this runs after its last write.
    static std::filesystem::path workAtExit;
    workAtExit = work;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(workAtExit, ignored);
    });
    int status = 1;
    try {
        status = run(argc, argv, work);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", tool, e.what());
    } catch (...) {
        // The bridge's cancellation error is no std::exception; the files must go all the same.
        std::fprintf(stderr, "%s: failed\n", tool);
    }
    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
    return status;
}

void failErrno(const std::string& what) {
    const int error = errno;
    throw std::runtime_error(what + ": " + std::strerror(error));
}

void failAfc(const std::string& what, afc_error_t error) {
    throw std::runtime_error(what + ": AFC error " + std::to_string(static_cast<int>(error)));
}

void makeFile(const std::filesystem::path& path, uint64_t size, const char* pattern, size_t patternBytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        failErrno("cannot create " + path.string());
    for (uint64_t done = 0; done < size;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(patternBytes, size - done));
        if (::write(fd, pattern, n) != static_cast<ssize_t>(n))
            failErrno("cannot write " + path.string());
        done += n;
    }
    if (::close(fd) != 0)
        failErrno("cannot close " + path.string());
}

std::string smallFileName(size_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "f%05zu.bin", index);
    return name;
}

std::optional<CopySources> makeCopySources(const char* tool, int argc, char** argv,
                                           const std::filesystem::path& work, uint64_t defaultMiB,
                                           uint64_t defaultRounds, uint64_t smallFileBytes, uint32_t chunk) {
    const std::optional<uint64_t> mib =
        argc > 1 ? parseCount(tool, "size in MiB", argv[1], 1 << 20) : defaultMiB;
    const std::optional<uint64_t> rounds =
        argc > 2 ? parseCount(tool, "rounds", argv[2], 1000) : defaultRounds;
    const std::optional<uint64_t> files = argc > 3 ? parseCount(tool, "small files", argv[3], 1000000) : 2000;
    if (!mib || !rounds || !files || argc > 4)
        throw std::runtime_error(std::string("usage: ") + tool + " [size in MiB] [rounds] [small files]");
    CopySources sources{*mib << 20, *rounds, *files, work / "media", work / "local"};
    // Both sides' sources, and the four copies of a round that live until its end.
    if (!roomFor(tool, work, 6 * (sources.size + sources.fileCount * smallFileBytes)))
        return std::nullopt;

    auto pattern = std::make_unique<char[]>(chunk);
    for (uint32_t i = 0; i < chunk; ++i)
        pattern[i] = static_cast<char>(i * 131 + 7);
    for (const std::filesystem::path& side : {sources.media, sources.local}) {
        std::filesystem::create_directories(side / "set");
        makeFile(side / "source.bin", sources.size, pattern.get(), chunk);
        for (size_t i = 0; i < sources.fileCount; ++i)
            makeFile(side / "set" / smallFileName(i), smallFileBytes, pattern.get(), chunk);
    }
    return sources;
}

void checkFolder(const std::filesystem::path& folder, size_t count, uint64_t size) {
    for (size_t i = 0; i < count; ++i) {
        const std::filesystem::path file = folder / smallFileName(i);
        std::error_code error;
        if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(file)) ||
            std::filesystem::file_size(file, error) != size)
            throw std::runtime_error("missing or short after its copy: " + file.string());
    }
    const auto entries =
        std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator());
    if (static_cast<size_t>(entries) != count)
        throw std::runtime_error(folder.string() + " holds " + std::to_string(entries) + " entries, not " +
                                 std::to_string(count));
}

void makeFreshFolder(const std::filesystem::path& folder) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
}

uint64_t bareDownload(afc_client_t afc, const std::string& devicePath, const std::filesystem::path& local,
                      char* buffer, uint32_t bufferBytes) {
    uint64_t handle = 0;
    if (const afc_error_t error = afc_file_open(afc, devicePath.c_str(), AFC_FOPEN_RDONLY, &handle);
        error != AFC_E_SUCCESS)
        failAfc("afc_file_open " + devicePath, error);
    const int fd = ::open(local.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        failErrno("open " + local.string());
    uint64_t total = 0;
    for (;;) {
        uint32_t got = 0;
        if (const afc_error_t error = afc_file_read(afc, handle, buffer, bufferBytes, &got);
            error != AFC_E_SUCCESS)
            failAfc("afc_file_read", error);
        if (got == 0)
            break;
        if (::write(fd, buffer, got) != static_cast<ssize_t>(got))
            failErrno("write " + local.string());
        total += got;
    }
    if (::close(fd) != 0)
        failErrno("close " + local.string());
    if (const afc_error_t error = afc_file_close(afc, handle); error != AFC_E_SUCCESS)
        failAfc("afc_file_close", error);
    return total;
}

uint64_t bareUpload(afc_client_t afc, const std::string& devicePath, const std::filesystem::path& local,
                    char* buffer, uint32_t bufferBytes) {
    const int fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        failErrno("open " + local.string());
    uint64_t handle = 0;
    if (const afc_error_t error = afc_file_open(afc, devicePath.c_str(), AFC_FOPEN_WR, &handle);
        error != AFC_E_SUCCESS)
        failAfc("afc_file_open(WR) " + devicePath, error);
    uint64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, bufferBytes);
        if (got < 0)
            failErrno("read " + local.string());
        if (got == 0)
            break;
        uint32_t written = 0;
        if (const afc_error_t error =
                afc_file_write(afc, handle, buffer, static_cast<uint32_t>(got), &written);
            error != AFC_E_SUCCESS)
            failAfc("afc_file_write", error);
        if (written != static_cast<uint32_t>(got))
            throw std::runtime_error("afc_file_write: short write to " + devicePath);
        total += static_cast<uint64_t>(got);
    }
    if (const afc_error_t error = afc_file_close(afc, handle); error != AFC_E_SUCCESS)
        failAfc("afc_file_close", error);
    ::close(fd);
    return total;
}

std::unique_ptr<fakemux::Emulator> startEmulator() {
    const std::filesystem::path muxFolder = fakemux::Emulator::makeFolder();
    if (::setenv("USBMUXD_SOCKET_ADDRESS", fakemux::Emulator::socketAddressFor(muxFolder).c_str(), 1) != 0)
        failErrno("setenv USBMUXD_SOCKET_ADDRESS");
    return std::make_unique<fakemux::Emulator>(muxFolder);
}

std::unique_ptr<fakemux::Emulator> startEmulator(const std::string& udid,
                                                 const std::filesystem::path& mediaRoot) {
    std::unique_ptr<fakemux::Emulator> emulator = startEmulator();
    fakemux::DeviceDescription description;
    description.udid = udid;
    description.mediaRoot = mediaRoot;
    emulator->addDevice(description);
    return emulator;
}

void quietLogging() {
    QLoggingCategory::setFilterRules(QStringLiteral("io.halvorn.orvanta.*.debug=false\n"
                                                    "io.halvorn.orvanta.*.info=false"));
}

void keepApplicationDataIn(const std::filesystem::path& work) {
    qputenv("XDG_DATA_HOME", (work / "data").string().c_str());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    UserDefaults::setStandardFilePathForTesting(QString::fromStdString((work / "defaults.plist").string()));
}

StallWatch::StallWatch() {
    m_timer.setInterval(5);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        const qint64 now = m_clock.nsecsElapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_longestSinceMark = std::max(m_longestSinceMark, now - m_last);
        m_last = now;
        const qint64 cpu = threadCpuNs();
        m_longestBusy = std::max(m_longestBusy, cpu - m_lastCpu);
        m_longestBusySinceMark = std::max(m_longestBusySinceMark, cpu - m_lastCpu);
        m_lastCpu = cpu;
    });
}

qint64 StallWatch::threadCpuNs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void StallWatch::start() {
    m_clock.start();
    m_last = 0;
    m_lastCpu = threadCpuNs();
    m_timer.start();
}

void StallWatch::stop() {
    m_timer.stop();
    const qint64 gap = m_clock.nsecsElapsed() - m_last;
    const qint64 busy = threadCpuNs() - m_lastCpu;
    m_longest = std::max(m_longest, gap);
    m_longestBusy = std::max(m_longestBusy, busy);
    m_longestSinceMark = std::max(m_longestSinceMark, gap);
    m_longestBusySinceMark = std::max(m_longestBusySinceMark, busy);
}

void StallWatch::mark() {
    m_longestSinceMark = 0;
    m_longestBusySinceMark = 0;
}

} // namespace bench
