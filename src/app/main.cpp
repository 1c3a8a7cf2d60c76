#include "app/AppDelegate.h"
#include "app/MainMenu.h"
#include "app/TerminationSignals.h"
#include "device/AFCBridge.h"
#include "platform/Logger.h"
#include "platform/async/TaskHandle.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QImageReader>
#include <QStyleFactory>
#include <QTimer>

#include <fontconfig/fontconfig.h>

#include <latch>
#include <thread>

namespace {

// How long the end of main waits for the tasks it asked to stop. They end within moments: the
// services' threads have dropped what was queued, and a call on a silent device is cut off.
constexpr std::chrono::seconds tasksEndLimit{2};

} // namespace

int main(int argc, char** argv) {
    // Reading the system's font configuration is the largest part of showing the first window.
    // fontconfig's part needs nothing of Qt, so it starts before anything else.
    std::latch fontConfigurationRead(1);
    // A plain thread, joined below: g++ 12 warns of a jthread's stop state made here.
    std::thread fontConfiguration([&fontConfigurationRead] {
        FcInit();
        fontConfigurationRead.count_down();
    });
    // Window placement, drags and dialogs are tried on X11; Wayland users can still ask for it.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication application(argc, argv);
    Logger::setVerbose(QCoreApplication::arguments().contains(QStringLiteral("--verbose")));
    // While the services and menus are built: the image format plug-ins that the menu bar's style
    // icons probe, then Qt's font list and the application font's match and fallbacks (shared by
    // every thread; the engine made here is this thread's own). The plug-in loader and the font
    // database are thread-safe; the first text laid out waits for this thread only if it is still
    // reading. Made after the application and so ended before it goes, however main ends.
    std::jthread warmUp([&fontConfigurationRead] {
        QImageReader::supportedImageFormats();
        fontConfigurationRead.wait();
        QFontDatabase::families();
        QFontMetrics(QGuiApplication::font()).horizontalAdvance(QStringLiteral("Search"));
    });
    QApplication::setApplicationName(QStringLiteral("Orvanta"));
    QApplication::setOrganizationDomain(QStringLiteral("halvorn.io"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // exit(), not quit(): quit() first asks every window to close, and the welcome sheet refuses that.
    TerminationSignals::quitOnTerminationSignals(&application, [] { QCoreApplication::exit(0); });

    int status = 0;
    {
        AppDelegate delegate;
        delegate.setMainMenu(MainMenu::build(delegate.commandRouter()));
        // The window lays out text at once. fontconfig reads its configuration once per process
        // only if nobody else is reading it: Qt starting before the thread is done would read it
        // a second time, on this thread.
        fontConfiguration.join();
        // Launching has finished once the loop runs: everything main built exists by then.
        QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
        status = QApplication::exec();
        // From here on nothing new starts (a device that finishes connecting now, or a listing
        // it would set off), and every task that runs is asked to stop.
        async::beginShutdown();
        delegate.applicationWillTerminate();
    }
    // The services' executors answered the jobs they dropped with cancellations, and the jobs in
    // progress answer as they end: delivering those lets every task end, and with the last task
    // that holds a service the service's threads, before the application object and Qt's globals
    // that their jobs use go.
    const QDeadlineTimer tasksDeadline(tasksEndLimit);
    while (async::spawnedTasksRunning() > 0 && !tasksDeadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    if (async::spawnedTasksRunning() > 0)
        Logger::ui().error("%d tasks still running at the end", async::spawnedTasksRunning());
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // A bridge destroyed while a copy hung on a silent device closes on a thread of its own; it
    // is cut off within half a second, and the process must not end under it.
    AFCBridge::waitForRetiredBridges(std::chrono::seconds(1));
    return status;
}
