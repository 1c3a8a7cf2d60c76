// device-emulator: serves virtual iPhones to the real libimobiledevice, for trying the
// application by hand and for benchmarks, and sends commands to one that runs.
//
//   device-emulator --demo                       the demo devices, files made on first start
//   device-emulator --config devices.json        the devices of a configuration file
//   device-emulator --control SOCKET unplug UDID a command to a running emulator
//
// A serving emulator prints the USBMUXD_SOCKET_ADDRESS to export, then "ready", and runs until
// SIGINT, SIGTERM or SIGHUP (its terminal closed), when it removes its sockets.

#include "ControlClient.h"
#include "DemoContent.h"
#include "DeviceConfig.h"
#include "ServedEmulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <exception>
#include <pthread.h>
#include <thread>

namespace {

struct Served {
    std::vector<ConfiguredDevice> devices;
    std::optional<std::string> socketPath;
};

[[noreturn]] void quit(const QString& message) {
    std::fprintf(stderr, "device-emulator: %s\n", qPrintable(message));
    std::exit(2);
}

const char* signalName(int signal) {
    return signal == SIGINT ? "SIGINT" : signal == SIGHUP ? "SIGHUP" : "SIGTERM";
}

// Making the demo files on a first start takes seconds, with the stop signals blocked and no
// socket yet to remove. Someone who gives up on it with Ctrl-C, or closes the terminal, must not
// find the emulator ignoring them until it is ready: this thread ends the process at once. The
// demo is only marked complete at the very end, so the next start makes the files again.
// SIGUSR1 from the main thread dismisses it once there is something to clean up.
class PreparationGuard {
public:
    explicit PreparationGuard(sigset_t stopSignals) : m_signals(stopSignals) {
        sigaddset(&m_signals, SIGUSR1);
        m_thread = std::thread([this] {
            int signal = 0;
            ::sigwait(&m_signals, &signal);
            if (signal == SIGUSR1)
                return;
            std::fprintf(stderr, "device-emulator: stopped while making the demo files (%s)\n",
                         signalName(signal));
            std::_Exit(1);
        });
    }
    ~PreparationGuard() {
        ::pthread_kill(m_thread.native_handle(), SIGUSR1);
        m_thread.join();
    }
    PreparationGuard(const PreparationGuard&) = delete;
    PreparationGuard& operator=(const PreparationGuard&) = delete;

private:
    sigset_t m_signals;
    std::thread m_thread;
};

Served configure(const QCommandLineParser& parser, const sigset_t& stopSignals) {
    const bool demo = parser.isSet(QStringLiteral("demo"));
    const QString configPath = parser.value(QStringLiteral("config"));
    if (demo == !configPath.isEmpty())
        quit(QStringLiteral("give either --demo or --config FILE (see --help)"));

    Served served;
    if (parser.isSet(QStringLiteral("socket")))
        served.socketPath =
            QFileInfo(parser.value(QStringLiteral("socket"))).absoluteFilePath().toStdString();
    QString base = parser.value(QStringLiteral("data-dir"));
    try {
        if (demo) {
            if (base.isEmpty())
                base = DemoContent::defaultFolder();
            QString error;
            bool prepared = false;
            {
                PreparationGuard guard(stopSignals);
                prepared = DemoContent::prepare(base, error);
            }
            if (!prepared)
                quit(error);
            QFile config(QStringLiteral(":/demo/demo.json"));
            if (!config.open(QIODevice::ReadOnly))
                quit(QStringLiteral("the demo configuration is missing from this build"));
            served.devices = DeviceConfig::parse(config.readAll(), QDir(base));
            // A fixed place, so that a shell that exported the address once keeps reaching the demo.
            if (!served.socketPath)
                served.socketPath = QDir(base).filePath(QStringLiteral("mux")).toStdString();
        } else {
            if (base.isEmpty())
                base = QFileInfo(configPath).absolutePath();
            served.devices = DeviceConfig::load(configPath, QDir(base));
        }
    } catch (const DeviceConfig::Error& e) {
        quit(QString::fromStdString(e.what()));
    }
    return served;
}

int serve(const QCommandLineParser& parser, const sigset_t& stopSignals) {
    Served served = configure(parser, stopSignals);
    std::unique_ptr<ServedEmulator> emulator;
    try {
        emulator = std::make_unique<ServedEmulator>(served.devices, served.socketPath);
    } catch (const std::exception& e) {
        quit(QString::fromUtf8(e.what()));
    }
    std::printf("USBMUXD_SOCKET_ADDRESS=%s\n", emulator->socketAddress().c_str());
    std::printf("DEVICE_EMULATOR_CONTROL=%s\n", emulator->controlPath().c_str());
    std::printf("ready\n");
    std::fflush(stdout);
    for (const auto& device : served.devices)
        std::fprintf(stderr, "device-emulator: serving %s \"%s\"%s%s\n", device.description.udid.c_str(),
                     device.description.name.c_str(), device.plugged ? "" : " (unplugged)",
                     device.locked ? " (locked)" : "");
    std::fprintf(stderr, "device-emulator: export the address above for the application and the tools; "
                         "stop with Ctrl-C\n");

    int signal = 0;
    ::sigwait(&stopSignals, &signal);
    emulator.reset();
    std::fprintf(stderr, "device-emulator: stopped (%s)\n", signalName(signal));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Before any thread exists, so that every thread inherits the mask and the signals wait for
    // sigwait() in main: the sockets are removed on the way out, whoever stops us.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigset_t blocked = stopSignals;
    sigaddset(&blocked, SIGUSR1); // the demo's preparation guard is dismissed with it
    ::pthread_sigmask(SIG_BLOCK, &blocked, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("device-emulator"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves virtual iPhones to libimobiledevice through a usbmux socket of its own.\n"
        "With --control, sends one command to a running emulator instead (\"help\" lists them)."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("config"), QStringLiteral("The JSON file describing the devices."),
         QStringLiteral("file")},
        {QStringLiteral("demo"),
         QStringLiteral(
             "Serve the demo iPhone and a locked demo iPad; their files (about 200 MB) are made on "
             "first start, which takes some seconds.")},
        {QStringLiteral("data-dir"),
         QStringLiteral("Where relative folders of the configuration lie (default: beside the file; for the "
                        "demo: $XDG_RUNTIME_DIR/orvanta-demo or /tmp/orvanta-demo-<uid>)."),
         QStringLiteral("folder")},
        {QStringLiteral("socket"),
         QStringLiteral(
             "The usbmux socket to listen on (default: a new private folder in /tmp; for the demo: "
             "<data-dir>/mux)."),
         QStringLiteral("path")},
        {QStringLiteral("control"),
         QStringLiteral("Send the command that follows to the emulator at this control socket."),
         QStringLiteral("socket")},
    });
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("With --control: the command and its words."),
                                 QStringLiteral("[command words...]"));
    // Command words such as a hostile name "-x" are words, not options.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.process(app);

    if (parser.isSet(QStringLiteral("control")))
        return ControlClient::run(parser.value(QStringLiteral("control")), parser.positionalArguments());
    if (!parser.positionalArguments().isEmpty())
        quit(QStringLiteral("command words need --control SOCKET"));
    return serve(parser, stopSignals);
}
