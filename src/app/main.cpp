#include "app/AppDelegate.h"
#include "app/MainMenu.h"
#include "app/Quitting.h"
#include "app/TerminationSignals.h"
#include "platform/Logger.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QImageReader>
#include <QStyleFactory>
#include <QTimer>

#include <fontconfig/fontconfig.h>

#include <latch>
#include <thread>

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
        Quitting::begin();
        delegate.applicationWillTerminate();
    }
    return Quitting::finish(status);
}
