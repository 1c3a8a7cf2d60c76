#pragma once

#include "models/Transfer.h"
#include "platform/Subscription.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <chrono>

class TransferManager;
class TransferProgressView;
class UiTimerSource;

// The floating "Copying Files" panel: shown at the main window's bottom-right corner when the
// first transfer starts, kept where it is while transfers run, and closed half a second after
// the last one ended, unless another starts within that half second. The panel is made once
// and only hidden when closed, so that it can be shown again.
class TransferProgressWindowController : public QObject {
    Q_OBJECT
public:
    static constexpr int panelWidth = 420;
    static constexpr int panelHeight = 130;
    // The panel's distance from the reference window's right and bottom edges.
    static constexpr int cornerInset = 20;
    static constexpr std::chrono::milliseconds hideDelay{500};

    // The panel floats over referenceWindow (the main window), which it is placed against; with
    // none it is placed against the primary screen. The manager and the timer source must
    // outlive the controller.
    TransferProgressWindowController(TransferManager& transferManager, QWidget* referenceWindow,
                                     UiTimerSource& timers);
    ~TransferProgressWindowController() override;

    QWidget* window() const { return m_panel; }
    TransferProgressView* progressView() const { return m_view; }
    bool isHideScheduled() const { return m_hideWorkItem.isActive(); }

    // Starts following the active transfers; once.
    void bind();
    void scheduleHide();
    // Puts the panel cornerInset pixels inside the reference's bottom-right corner.
    void positionWindow();

private:
    void handleTransfers(const QList<Transfer>& transfers);

    TransferManager& m_transferManager;
    UiTimerSource& m_timers;
    QPointer<QWidget> m_referenceWindow;
    QPointer<QWidget> m_panel;
    TransferProgressView* m_view = nullptr;
    Subscription m_subscription;
    Subscription m_hideWorkItem;
};
