#pragma once

#include "models/Transfer.h"
#include "platform/Subscription.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;
class TransferManager;
class UiTimerSource;

// The contents of the floating progress panel: the combined progress of every running transfer
// (how many items, one bar, the current file, bytes, speed and time remaining) and one Cancel
// button that stops the transfers it shows. It takes at most one list of transfers every
// 100 ms, so a transfer publishing its progress thousands of times a second costs ten redraws.
class TransferProgressView : public QWidget {
    Q_OBJECT
public:
    // The bar's scale; a fraction of the bytes becomes a value of 0 to this.
    static constexpr int progressMaximum = 1000;

    // The manager and the timer source must outlive the view.
    TransferProgressView(TransferManager& transferManager, UiTimerSource& timers, QWidget* parent = nullptr);
    ~TransferProgressView() override;

    QLabel* headerLabel() const { return m_headerLabel; }
    QProgressBar* overallProgress() const { return m_overallProgress; }
    QLabel* currentFileLabel() const { return m_currentFileLabel; }
    QLabel* speedLabel() const { return m_speedLabel; }
    QPushButton* cancelButton() const { return m_cancelButton; }

    // Cancels what the last update showed; rebuilt by every update.
    std::function<void()> onCancel;

    // Shows the combined progress of a non-empty list of transfers.
    void updateWith(const QList<Transfer>& transfers);

    // "Copying 3 of 5 items", counting for each transfer its finished files and the one under way
    // but never more than its total, so the count cannot run past the total.
    static QString headerText(const QList<Transfer>& transfers);
    // "120 MB of 1 GB — 35 MB/s — About 25 seconds remaining".
    static QString speedText(quint64 transferred, quint64 total, double bytesPerSecond);
    static QString remainingText(quint64 transferred, quint64 total, double bytesPerSecond);
    // The bar's value for the bytes, 0 to progressMaximum; the maximum once all bytes are done.
    static int progressValue(quint64 transferred, quint64 total);

private:
    void setupViews();
    void bind(UiTimerSource& timers);
    void cancelClicked();

    TransferManager& m_transferManager;
    Subscription m_subscription;
    QLabel* m_headerLabel = nullptr;
    QProgressBar* m_overallProgress = nullptr;
    QLabel* m_currentFileLabel = nullptr;
    QLabel* m_speedLabel = nullptr;
    QPushButton* m_cancelButton = nullptr;
};
