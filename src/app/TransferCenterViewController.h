#pragma once

#include "models/TransferHistoryEntry.h"
#include "models/iOSDevice.h"
#include "platform/Observable.h"
#include "platform/Subscription.h"
#include "platform/URL.h"
#include "platform/async/TaskHandle.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class AlertPresenter;
struct AlertRequest;
class QLabel;
class QPushButton;
class QTableView;
class TransferCenterModel;
class TransferManager;

// The Transfer Center's contents: the transfer history as a table (newest first, as the manager
// keeps it), a summary line and four actions on the selected entry: reveal its destination, run
// it again, open its report, or clear the whole history. It reads and clears the manager's
// history and asks the manager to retry; it never changes a transfer itself.
class TransferCenterViewController : public QWidget {
    Q_OBJECT
public:
    explicit TransferCenterViewController(std::shared_ptr<TransferManager> transferManager,
                                          QWidget* parent = nullptr);
    ~TransferCenterViewController() override;

    QTableView* tableView() const { return m_tableView; }
    TransferCenterModel* model() const { return m_model; }
    QLabel* summaryLabel() const { return m_summaryLabel; }
    QPushButton* revealButton() const { return m_revealButton; }
    QPushButton* retryButton() const { return m_retryButton; }
    QPushButton* reportButton() const { return m_reportButton; }
    QPushButton* clearButton() const { return m_clearButton; }

    // How the desktop is asked to show a folder (calling back when it cannot) and to open a
    // report (false when it cannot); tests put recorders here.
    std::function<void(const URL&, std::function<void()> failed)> revealInFileManager;
    std::function<bool(const URL&)> openWithDesktop;
    // Shows a folder on a device in the main window: no program of the desktop can.
    std::function<void(const URL&)> showInMainWindow;

    // Where the window says that an action could not be done; without one it is only logged.
    void setAlertPresenter(std::shared_ptr<AlertPresenter> presenter);
    // The connected devices: device destinations are named by their device (also once it has
    // gone, for those seen while the window lived), and shown only while it is connected.
    void followDevices(Observable<QList<iOSDevice>>& devices);

    // The entry of the selected row, when a row inside the entries is selected.
    std::optional<TransferHistoryEntry> selectedEntry() const;

    void revealSelection();
    void retrySelection();
    void openReport();
    void clearHistory();

    // Takes a new history: the rows, the summary and the buttons follow it. The selected entry
    // stays selected when it is still in the history.
    void updateSummary(const QList<TransferHistoryEntry>& history);
    void updateButtons();

    // "No transfer history yet", "1 transfer saved", "12 transfers saved".
    static QString summaryText(qsizetype count);

    // The retries started so far (tests await them).
    const QList<async::TaskHandle<void>>& retryTasks() const { return m_retryTasks; }

private:
    void setupViews();
    void devicesChanged(const QList<iOSDevice>& devices);
    void showDeviceDestination(const URL& url);
    void tellFailure(const QString& message, const QString& informative);
    void tell(const AlertRequest& alert);

    std::shared_ptr<TransferManager> m_transferManager;
    Subscription m_subscription;
    TransferCenterModel* m_model = nullptr;
    QTableView* m_tableView = nullptr;
    QLabel* m_summaryLabel = nullptr;
    QPushButton* m_revealButton = nullptr;
    QPushButton* m_retryButton = nullptr;
    QPushButton* m_reportButton = nullptr;
    QPushButton* m_clearButton = nullptr;
    QList<async::TaskHandle<void>> m_retryTasks;
    std::shared_ptr<AlertPresenter> m_alertPresenter;
    QList<async::TaskHandle<void>> m_alertTasks;
    Subscription m_devicesSubscription;
    QHash<QString, QString> m_deviceNames;
    QSet<QString> m_connectedUDIDs;
};
