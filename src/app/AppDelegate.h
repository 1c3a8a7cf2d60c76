#pragma once

#include "uikit/CommandRouter.h"

#include <QCoreApplication>
#include <QDialog>
#include <QMenuBar>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>

class AboutWindowController;
class AlertPresenter;
class DeviceManager;
class MainWindowController;
class PreferencesWindowController;
class TransferCenterWindowController;
class TransferManager;
class URL;

// The application: owns the device and transfer services and the main window, starts device
// monitoring once the window is up, shows the welcome sheet on the first launch, and at quit
// lets running transfers clean up before monitoring stops and the services go, in that order.
class AppDelegate : public QObject, public ActionTarget {
    Q_OBJECT
public:
    // How long quitting waits for cancelled transfers to remove their partial files; once more
    // after the connections of copies that hang on a silent device were cut. With the wait for
    // the scan, quitting is over within a second whatever a device does.
    static constexpr std::chrono::milliseconds transferCleanupLimit{250};
    // How long quitting waits for the device scan to end once it was stopped (its last scan
    // included).
    static constexpr std::chrono::milliseconds monitoringStopLimit{400};

    struct Services {
        std::unique_ptr<DeviceManager> deviceManager;
        std::shared_ptr<TransferManager> transferManager;
        std::shared_ptr<AlertPresenter> alertPresenter;
    };

    // The services of a real run: the helper tools next to the executable or on the PATH, the
    // settings' transfer history, alerts as dialogs.
    AppDelegate();
    explicit AppDelegate(Services services);
    ~AppDelegate() override;

    DeviceManager& deviceManager() const { return *m_deviceManager; }
    TransferManager& transferManager() const { return *m_transferManager; }
    MainWindowController* mainWindowController() const { return m_mainWindowController.get(); }
    CommandRouter& commandRouter() { return m_router; }
    // The secondary windows, made on their first command and kept.
    PreferencesWindowController* preferencesWindowController() const {
        return m_preferencesWindowController.get();
    }
    AboutWindowController* aboutWindowController() const { return m_aboutWindowController.get(); }
    TransferCenterWindowController* transferCenterWindowController() const {
        return m_transferCenterWindowController.get();
    }
    void showPreferences();
    void showAbout();
    void showTransferCenter();
    // The welcome sheet while it is shown.
    QDialog* firstRunSheet() const { return m_firstRunSheet; }

    // The menu bar built by main; it moves into the main window when that exists.
    void setMainMenu(QMenuBar* menuBar);

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    void endFirstRunSheet();

    bool validate(const QString& selector) override;
    void perform(const QString& selector, QObject* sender) override;

    // Ends the event loop with a status; main then runs applicationWillTerminate(). Tests record
    // the call instead, since an ended loop refuses to run again in the same process.
    std::function<void(int status)> exitApplication = [](int status) { QCoreApplication::exit(status); };

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The quit of the menu, also taken when the main window closes: the menu bar lives in that
    // window, so without it nothing could reach the other windows or quit.
    void terminate();
    static Services defaultServices();
    void presentWindow(QWidget* window);
    // A folder on a device, where the Transfer Center cannot show it: the main window goes there.
    void showInMainWindow(const URL& url);

    CommandRouter m_router;
    std::unique_ptr<DeviceManager> m_deviceManager;
    std::shared_ptr<TransferManager> m_transferManager;
    std::shared_ptr<AlertPresenter> m_alertPresenter;
    std::unique_ptr<MainWindowController> m_mainWindowController;
    std::unique_ptr<PreferencesWindowController> m_preferencesWindowController;
    std::unique_ptr<AboutWindowController> m_aboutWindowController;
    std::unique_ptr<TransferCenterWindowController> m_transferCenterWindowController;
    QPointer<QMenuBar> m_menuBar;
    QPointer<QDialog> m_firstRunSheet;
};
