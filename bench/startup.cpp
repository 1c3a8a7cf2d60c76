// How fast the application starts, how smoothly its window follows a device that comes and goes,
// and how much memory it holds once started, all against the device emulator of the tests.
//
//  1. Start-up: from the fork to the main window shown, for the real executable (orvanta, next to
//     the bench folder) and for a bare Qt program that shows one empty window of the same size
//     (startup_bare), taking turns, the median of each. The application says "Starting device
//     monitoring" right after it has shown its window; the bare program prints a line on the
//     first turn of its loop after show(). Both run offscreen with a fresh home whose settings say
//     the first run is done, so the welcome sheet stays away, and talk to an emulator of this
//     process that holds one demo-like iPhone, never to a real usbmuxd.
//  2. Idle memory: VmRSS of each orvanta child once it has shown that iPhone and then sat idle
//     for a second; the median.
//  3. Stalls: the application's objects built in this process as main builds them, the iPhone
//     unplugged and plugged ten times, the window awaited in each state; the longest gap between
//     ticks of a 5 ms timer on the main thread meanwhile.
//
//     startup [rounds, default 9]
//
// The last line holds the three figures for scripts to read.

#include "BenchArguments.h"
#include "BenchSupport.h"
#include "app/AppDelegate.h"
#include "app/MainMenu.h"
#include "app/MainWindowController.h"
#include "device/DeviceManager.h"
#include "emulator/Emulator.h"
#include "platform/UserDefaults.h"
#include "platform/async/RunSync.h"
#include "services/PreferencesViewController.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QStyleFactory>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

const std::string udid = "00008120-001C35A20E68201E";
constexpr int plugCycles = 10;
constexpr auto childLimit = std::chrono::seconds(30);
constexpr auto idleTime = std::chrono::seconds(1);
constexpr auto windowLimit = std::chrono::seconds(20);

using bench::failErrno;

void setEnv(const char* name, const std::string& value) {
    if (::setenv(name, value.c_str(), 1) != 0)
        failErrno(std::string("setenv ") + name);
}

// A few camera-roll files and one shared app, so that the window has something to list.
fakemux::DeviceDescription demoLikeDevice(const std::filesystem::path& root) {
    fakemux::DeviceDescription description;
    description.udid = udid;
    description.name = "Demo iPhone";
    description.mediaRoot = root / "media";
    description.values = {
        {"ProductType", std::string("iPhone15,2")},
        {"ProductVersion", std::string("17.5.1")},
        {"DeviceClass", std::string("iPhone")},
        {"SerialNumber", std::string("F4GXK2DEMO01")},
    };
    description.battery = {{"BatteryCurrentCapacity", int64_t(76)}, {"BatteryIsCharging", false}};
    const std::filesystem::path roll = description.mediaRoot / "DCIM" / "100APPLE";
    std::filesystem::create_directories(roll);
    std::filesystem::create_directories(description.mediaRoot / "Downloads");
    const std::string bytes(256 * 1024, 'p');
    for (int i = 1; i <= 24; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
        std::ofstream(roll / name, std::ios::binary) << bytes;
    }
    fakemux::AppDescription notes;
    notes.bundleId = "com.example.notes";
    notes.displayName = "Notes";
    notes.fileSharingEnabled = true;
    notes.opensDocumentsInPlace = true;
    notes.container = root / "apps" / "notes";
    std::filesystem::create_directories(notes.container / "Documents");
    std::ofstream(notes.container / "Documents" / "Shopping.txt") << "milk\n";
    description.apps.push_back(notes);
    return description;
}

// One started program whose stderr is read line by line, with a deadline for each wait.
class Child {
public:
    Child(const std::filesystem::path& program, const std::vector<char*>& environment, QElapsedTimer& clock,
          const char* argument = nullptr) {
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0)
            failErrno("pipe2");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipe[1], STDERR_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(argument), nullptr};
        clock.start();
        const int error = ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv, environment.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe[1]);
        m_fd = pipe[0];
        if (error != 0) {
            ::close(m_fd);
            errno = error;
            failErrno("cannot start " + program.string());
        }
    }
    ~Child() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_fd);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return m_pid; }

    // Reads until a line holding text arrives; false on the end of the output or the deadline.
    bool waitForLine(const std::string& text, std::chrono::milliseconds limit) {
        const QDeadlineTimer deadline(limit);
        for (;;) {
            for (size_t end; (end = m_pending.find('\n')) != std::string::npos;) {
                const std::string line = m_pending.substr(0, end);
                m_pending.erase(0, end + 1);
                m_lines.push_back(line);
                if (line.find(text) != std::string::npos)
                    return true;
            }
            if (!readSome(deadline))
                return false;
        }
    }

    // Keeps the pipe drained for a while, so that the child never blocks on a full pipe.
    void drainFor(std::chrono::milliseconds time) {
        const QDeadlineTimer deadline(time);
        while (!deadline.hasExpired() && readSome(deadline)) {
        }
    }

    // Asks the program to quit as a terminal's Ctrl-C would and waits for it; SIGKILL if it hangs.
    void stop() {
        ::kill(m_pid, SIGTERM);
        drainFor(std::chrono::seconds(10));
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
        }
        m_pid = -1;
    }

    std::string lastLines(size_t count) const {
        std::string text;
        for (size_t i = m_lines.size() > count ? m_lines.size() - count : 0; i < m_lines.size(); ++i)
            text += "    " + m_lines[i] + "\n";
        return text + (m_pending.empty() ? "" : "    " + m_pending + "\n");
    }

private:
    // False at the end of the output or the deadline.
    bool readSome(const QDeadlineTimer& deadline) {
        pollfd fd{m_fd, POLLIN, 0};
        const int ready = ::poll(&fd, 1, static_cast<int>(std::max<qint64>(0, deadline.remainingTime())));
        if (ready < 0 && errno == EINTR)
            return true;
        if (ready <= 0)
            return false;
        char buffer[4096];
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        m_pending.append(buffer, static_cast<size_t>(got));
        return true;
    }

    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_pending;
    std::vector<std::string> m_lines;
};

// This process's environment and the logging rules that let the children's info lines through;
// this process keeps its own rules, which Qt reads from the environment only once.
class ChildEnvironment {
public:
    ChildEnvironment() {
        for (char** variable = environ; *variable; ++variable)
            if (std::strncmp(*variable, "QT_LOGGING_RULES=", 17) != 0)
                m_pointers.push_back(*variable);
        m_pointers.push_back(m_rules.data());
        m_pointers.push_back(nullptr);
    }
    const std::vector<char*>& get() const { return m_pointers; }

private:
    std::string m_rules = "QT_LOGGING_RULES=io.halvorn.orvanta.*.info=true";
    std::vector<char*> m_pointers;
};

uint64_t residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    const std::string prefix = "VmRSS:";
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            return std::strtoull(line.c_str() + prefix.size(), nullptr, 10);
    }
    throw std::runtime_error("no VmRSS for process " + std::to_string(pid));
}

double bareStart(const std::filesystem::path& program, const ChildEnvironment& environment,
                 const char* argument = nullptr) {
    QElapsedTimer clock;
    Child child(program, environment.get(), clock, argument);
    if (!child.waitForLine("window shown", childLimit))
        throw std::runtime_error(program.string() + " never showed its window:\n" + child.lastLines(20));
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    child.stop();
    return ms;
}

struct AppStart {
    double loopMs = 0; // the event loop's first turn, where launching begins
    double ms = 0;
    uint64_t residentKiB = 0;
};

AppStart appStart(const std::filesystem::path& program, const ChildEnvironment& environment) {
    QElapsedTimer clock;
    Child child(program, environment.get(), clock);
    AppStart result;
    if (!child.waitForLine("Orvanta launched", childLimit))
        throw std::runtime_error(program.string() + " never began launching:\n" + child.lastLines(20));
    result.loopMs = double(clock.nsecsElapsed()) / 1e6;
    if (!child.waitForLine("Starting device monitoring", childLimit))
        throw std::runtime_error(program.string() + " never showed its window:\n" + child.lastLines(20));
    result.ms = double(clock.nsecsElapsed()) / 1e6;
    if (!child.waitForLine("Device connected", childLimit))
        throw std::runtime_error(program.string() + " never saw the iPhone:\n" + child.lastLines(20));
    child.drainFor(idleTime);
    result.residentKiB = residentKiB(child.pid());
    child.stop();
    return result;
}

template <typename T> T median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Runs the loop until done holds; false when the limit passed first.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = windowLimit) {
    const QDeadlineTimer deadline(limit);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// The application's objects as main builds them, the iPhone unplugged and plugged again ten
// times; scans are started here rather than left to the two-second pause, so that the run takes
// seconds, not a minute, and no timed wait hides between the steps.
double longestStall(fakemux::Emulator& emulator, int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvanta"));
    QApplication::setOrganizationDomain(QStringLiteral("halvorn.io"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    bench::quietLogging();

    AppDelegate delegate;
    delegate.setMainMenu(MainMenu::build(delegate.commandRouter()));
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    const auto showingBrowser = [&delegate](bool expected) {
        return [&delegate, expected] {
            MainWindowController* controller = delegate.mainWindowController();
            return controller && controller->window()->isVisible() &&
                   controller->isShowingBrowser() == expected;
        };
    };
    if (!waitFor(showingBrowser(true)))
        throw std::runtime_error("the window never showed the plugged-in iPhone");
    const async::TaskHandle<void> monitoring = delegate.deviceManager().monitoringTask();
    delegate.deviceManager().stopMonitoring();
    if (!waitFor([&monitoring] { return monitoring.isFinished(); }))
        throw std::runtime_error("device monitoring did not stop");

    bench::StallWatch stalls;
    stalls.start();
    for (int cycle = 0; cycle < plugCycles; ++cycle) {
        for (const bool plugged : {false, true}) {
            if (plugged)
                emulator.plug(udid);
            else
                emulator.unplug(udid);
            async::runSync(delegate.deviceManager().scanForDevices());
            if (!waitFor(showingBrowser(plugged)))
                throw std::runtime_error(std::string("the window did not follow the iPhone being ") +
                                         (plugged ? "plugged" : "unplugged") + " in cycle " +
                                         std::to_string(cycle + 1));
        }
    }
    stalls.stop();
    delegate.applicationWillTerminate();
    return stalls.longestMs();
}

int run(int argc, char** argv, const std::filesystem::path& work) {
    const std::optional<uint64_t> rounds =
        argc > 1 ? bench::parseCount("startup", "rounds", argv[1], 100) : 9;
    if (!rounds || argc > 2)
        throw std::runtime_error("usage: startup [rounds]");

    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    const std::filesystem::path app = (self.parent_path() / ".." / "orvanta").lexically_normal();
    const std::filesystem::path bare = self.parent_path() / "startup_bare";
    for (const auto& program : {app, bare})
        if (::access(program.c_str(), X_OK) != 0)
            throw std::runtime_error("cannot run " + program.string() + "; build it first");

    // A fresh home for this process and its children alike, set before the emulator starts its
    // first thread: the client library reads the socket address on every connection, and setenv
    // races with getenv.
    const std::filesystem::path home = work / "home";
    for (const char* folder : {".config/Orvanta", ".local/share", ".cache", "Downloads", "runtime"})
        std::filesystem::create_directories(home / folder);
    std::filesystem::permissions(home / "runtime", std::filesystem::perms::owner_all);
    setEnv("HOME", home.string());
    setEnv("XDG_CONFIG_HOME", (home / ".config").string());
    setEnv("XDG_DATA_HOME", (home / ".local/share").string());
    setEnv("XDG_CACHE_HOME", (home / ".cache").string());
    setEnv("XDG_RUNTIME_DIR", (home / "runtime").string());
    setEnv("QT_QPA_PLATFORM", "offscreen");
    {
        // The welcome sheet is a first run's, not a start-up's.
        UserDefaults defaults(QString::fromStdString((home / ".config/Orvanta/defaults.plist").string()));
        defaults.set(QString(PreferencesViewController::hasCompletedFirstRunKey), true);
        defaults.flush();
    }
    const auto emulator = bench::startEmulator();
    emulator->addDevice(demoLikeDevice(work / "device"));

    const ChildEnvironment environment;
    // One start of each off the record: the first pays for loading the libraries from disk.
    bareStart(bare, environment);
    appStart(app, environment);
    std::vector<double> bareMs, bareTextMs, appLoopMs, appMs;
    std::vector<uint64_t> residents;
    for (uint64_t round = 0; round < *rounds; ++round) {
        // Taking turns going first, so that neither always finds the other's leftovers.
        if (round % 2)
            bareMs.push_back(bareStart(bare, environment));
        const AppStart start = appStart(app, environment);
        appLoopMs.push_back(start.loopMs);
        appMs.push_back(start.ms);
        residents.push_back(start.residentKiB);
        if (round % 2 == 0)
            bareMs.push_back(bareStart(bare, environment));
        bareTextMs.push_back(bareStart(bare, environment, "--text"));
    }
    const double bareMedian = median(bareMs);
    const double appMedian = median(appMs);
    const double ratio = appMedian / bareMedian;
    const uint64_t residentMiB = (median(residents) + 512) / 1024;

    const double stallMs = longestStall(*emulator, argc, argv);

    std::printf("start-up to the main window shown, median of %llu runs each (offscreen)\n",
                static_cast<unsigned long long>(*rounds));
    std::printf("bare Qt window %7.1f ms, orvanta %7.1f ms, ratio %.2f (target <= 1.5)\n", bareMedian,
                appMedian, ratio);
    std::printf("bare Qt window with one line of text %.1f ms (it reads the system's fonts, as any window\n"
                "with text must): orvanta takes %.2f times that\n",
                median(bareTextMs), appMedian / median(bareTextMs));
    std::printf("orvanta reached its event loop at %.1f ms, so the window itself took %.1f ms\n",
                median(appLoopMs), appMedian - median(appLoopMs));
    std::printf("longest main-thread stall over %d unplugs and plugs: %.1f ms (target <= 50)\n", plugCycles,
                stallMs);
    std::printf("orvanta resident memory after start-up, idle with one iPhone shown: %llu MiB\n",
                static_cast<unsigned long long>(residentMiB));
    std::printf("startup ratio=%.2f max_stall_ms=%.0f idle_rss_mib=%llu\n", ratio, stallMs,
                static_cast<unsigned long long>(residentMiB));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::runInWorkFolder("startup", "/tmp", "orvanta-startup", argc, argv, run);
}
