#pragma once

#include "uikit/CommandRouter.h"

#include <QDialog>
#include <QMenuBar>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <memory>

class AlertPresenter;
class DeviceManager;
class MainWindowController;
class QuitAwareTransferManager;

// The application: owns the device and transfer services and the main window, starts device
// monitoring once the window is up, shows the welcome sheet on the first launch, and at quit
// lets running transfers clean up before monitoring stops and the services go, in that order.
class AppDelegate : public QObject, public ActionTarget {
    Q_OBJECT
public:
    // How long quitting waits for cancelled transfers to remove their partial files.
    static constexpr std::chrono::seconds transferCleanupLimit{5};
    // How long quitting waits for the device scan to end once it was stopped.
    static constexpr std::chrono::seconds monitoringStopLimit{2};

    struct Services {
        std::unique_ptr<DeviceManager> deviceManager;
        std::shared_ptr<QuitAwareTransferManager> transferManager;
        std::shared_ptr<AlertPresenter> alertPresenter;
    };

    // The services of a real run: the helper tools next to the executable or on the PATH, the
    // settings' transfer history, alerts as dialogs.
    AppDelegate();
    explicit AppDelegate(Services services);
    ~AppDelegate() override;

    DeviceManager& deviceManager() const { return *m_deviceManager; }
    QuitAwareTransferManager& transferManager() const { return *m_transferManager; }
    MainWindowController* mainWindowController() const { return m_mainWindowController.get(); }
    CommandRouter& commandRouter() { return m_router; }
    // The welcome sheet while it is shown.
    QDialog* firstRunSheet() const { return m_firstRunSheet; }

    // The menu bar built by main; it moves into the main window when that exists.
    void setMainMenu(QMenuBar* menuBar);

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    void endFirstRunSheet();

    bool validate(const QString& selector) override;
    void perform(const QString& selector, QObject* sender) override;

private:
    static Services defaultServices();

    CommandRouter m_router;
    std::unique_ptr<DeviceManager> m_deviceManager;
    std::shared_ptr<QuitAwareTransferManager> m_transferManager;
    std::shared_ptr<AlertPresenter> m_alertPresenter;
    std::unique_ptr<MainWindowController> m_mainWindowController;
    QPointer<QMenuBar> m_menuBar;
    QPointer<QDialog> m_firstRunSheet;
};
