#include "app/TransferProgressWindowController.h"

#include "app/TransferProgressView.h"
#include "platform/ObservableOperators.h"
#include "transfer/TransferManager.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

TransferProgressWindowController::TransferProgressWindowController(TransferManager& transferManager,
                                                                   QWidget* referenceWindow,
                                                                   UiTimerSource& timers)
    : m_transferManager(transferManager), m_timers(timers), m_referenceWindow(referenceWindow) {
    // A tool window of the main window: it floats above it, and showing it must not take the
    // keyboard from the browser the user is working in.
    auto* panel = new QWidget(referenceWindow, Qt::Tool);
    panel->setObjectName(QStringLiteral("transferProgressPanel"));
    panel->setWindowTitle(QStringLiteral("Copying Files"));
    panel->setAttribute(Qt::WA_ShowWithoutActivating);
    panel->setAttribute(Qt::WA_DeleteOnClose, false);
    panel->setFixedSize(panelWidth, panelHeight);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new TransferProgressView(m_transferManager, m_timers);
    m_view->setObjectName(QStringLiteral("transferProgressView"));
    layout->addWidget(m_view);
    m_panel = panel;
}

TransferProgressWindowController::~TransferProgressWindowController() {
    m_subscription.cancel();
    m_hideWorkItem.cancel();
    delete m_panel.data();
}

void TransferProgressWindowController::bind() {
    if (m_subscription.isActive())
        return;
    QPointer<TransferProgressWindowController> self(this);
    m_subscription = throttleLatest(m_transferManager.activeTransfers, m_timers)
                         .subscribe(
                             [self](const QList<Transfer>& transfers) {
                                 if (self)
                                     self->handleTransfers(transfers);
                             },
                             Delivery::Queued);
}

void TransferProgressWindowController::handleTransfers(const QList<Transfer>& transfers) {
    if (!m_panel)
        return;
    if (transfers.isEmpty()) {
        // Nothing to close while the panel is closed (the list at start, or the user closed it).
        if (m_panel->isVisible())
            scheduleHide();
        return;
    }
    m_hideWorkItem.cancel();
    // A panel already shown stays where the user may have moved it.
    if (!m_panel->isVisible()) {
        positionWindow();
        m_panel->show();
    }
}

void TransferProgressWindowController::scheduleHide() {
    m_hideWorkItem.cancel();
    QPointer<TransferProgressWindowController> self(this);
    m_hideWorkItem = m_timers.singleShot(hideDelay, [self] {
        if (self && self->m_panel)
            self->m_panel->close();
    });
}

void TransferProgressWindowController::positionWindow() {
    if (!m_panel)
        return;
    QRect reference;
    if (m_referenceWindow) {
        reference = m_referenceWindow->geometry();
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        reference = screen->availableGeometry();
    } else {
        return;
    }
    const QSize size = m_panel->size();
    // Qt counts y downwards: the bottom edge is the top plus the height.
    const int x = reference.x() + reference.width() - size.width() - cornerInset;
    const int y = reference.y() + reference.height() - size.height() - cornerInset;
    m_panel->setGeometry(QRect(QPoint(x, y), size));
}
