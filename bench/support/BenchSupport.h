#pragma once

// What the benchmarks share beyond their command lines: the work folder that must go whatever
// happens, the emulator they serve their files from, the bare libimobiledevice loops they measure
// against, and the timer that tells how long the main thread was held up.

#include <QElapsedTimer>
#include <QTimer>

#include <libimobiledevice/afc.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace fakemux {
class Emulator;
struct DeviceDescription;
} // namespace fakemux

namespace bench {

// Makes a fresh folder <parent>/<prefix>-XXXXXX, runs run in it, and removes it afterwards
// whatever run did: returned, threw, or threw something that is no std::exception. A throw is
// reported on stderr as "<tool>: <what>" and makes the status 1.
int runInWorkFolder(const char* tool, const char* parent, const char* prefix, int argc, char** argv,
                    const std::function<int(int, char**, const std::filesystem::path&)>& run);

[[noreturn]] void failErrno(const std::string& what);
[[noreturn]] void failAfc(const std::string& what, afc_error_t error);

// A file of size bytes, the pattern written over and over: one buffer for every file a bench
// makes, since filling a fresh MiB per file would cost more than writing small files themselves.
void makeFile(const std::filesystem::path& path, uint64_t size, const char* pattern, size_t patternBytes);

// "f00042.bin": the names of a bench's folder of small files.
std::string smallFileName(size_t index);

// The sources of a copy benchmark, the same on both sides: work/media (the device's media folder)
// and work/local each hold "source.bin" of size bytes and a folder "set" of fileCount small files.
struct CopySources {
    uint64_t size = 0;
    uint64_t rounds = 0;
    size_t fileCount = 0;
    std::filesystem::path media;
    std::filesystem::path local;
};
// Reads "[size in MiB] [rounds] [small files]" from the command line (throwing the usage line
// when it does not read), checks there is room for the sources and the four copies of a round,
// and makes the sources. Nothing when there is no room (said on stderr).
std::optional<CopySources> makeCopySources(const char* tool, int argc, char** argv,
                                           const std::filesystem::path& work, uint64_t defaultMiB,
                                           uint64_t defaultRounds, uint64_t smallFileBytes, uint32_t chunk);

// Outside the clock: every copy must have left exactly its whole file under its own name, and
// nothing else beside them (a temporary name left behind would be a lost rename).
void checkFolder(const std::filesystem::path& folder, size_t count, uint64_t size);

void makeFreshFolder(const std::filesystem::path& folder);

// The bare loops: open, copy in chunks of bufferBytes, close, on a session opened just as the
// bridge opens its own. The caller lends the buffer: a fresh zero-filled MiB for every 64 KiB
// file would add a sizeable share of the copy's own time to the baseline. The bytes copied.
uint64_t bareDownload(afc_client_t afc, const std::string& devicePath, const std::filesystem::path& local,
                      char* buffer, uint32_t bufferBytes);
uint64_t bareUpload(afc_client_t afc, const std::string& devicePath, const std::filesystem::path& local,
                    char* buffer, uint32_t bufferBytes);

// An emulator in this process that the client library of this process reaches. Call it before
// any thread starts: the library reads USBMUXD_SOCKET_ADDRESS on every connection, and setenv
// races with getenv.
std::unique_ptr<fakemux::Emulator> startEmulator();
// The same, holding one device whose media folder is mediaRoot.
std::unique_ptr<fakemux::Emulator> startEmulator(const std::string& udid,
                                                 const std::filesystem::path& mediaRoot);

// Per-copy log lines would interleave with the figures.
void quietLogging();

// For a bench that runs the application's own windows and engine: reports and settings go to the
// work folder, not the user's, and the windows offscreen unless QT_QPA_PLATFORM says otherwise.
// Call it before the QApplication is made.
void keepApplicationDataIn(const std::filesystem::path& work);

// The longest gap between two ticks of a 5 ms timer on the main thread while it runs: the
// longest the window would have frozen. The gap up to stop() counts too.
class StallWatch {
public:
    StallWatch();
    void start();
    void stop();
    double longestMs() const { return double(m_longest) / 1e6; }
    // The most processor time the main thread spent between two ticks: the stall its own work
    // made, without the time a loaded machine kept it waiting for a processor.
    double longestBusyMs() const { return double(m_longestBusy) / 1e6; }
    // From now on, the stalls are also counted apart: the longest since the last mark.
    void mark();
    double longestSinceMarkMs() const { return double(m_longestSinceMark) / 1e6; }
    double longestBusySinceMarkMs() const { return double(m_longestBusySinceMark) / 1e6; }

private:
    static qint64 threadCpuNs();

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    qint64 m_lastCpu = 0;
    qint64 m_longestBusy = 0;
    qint64 m_longestSinceMark = 0;
    qint64 m_longestBusySinceMark = 0;
};

} // namespace bench
