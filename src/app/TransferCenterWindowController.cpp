#include "app/TransferCenterWindowController.h"

#include "app/TransferCenterViewController.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

TransferCenterWindowController::TransferCenterWindowController(
    std::shared_ptr<TransferManager> transferManager, QObject* parent)
    : QObject(parent) {
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setObjectName(QStringLiteral("transferCenterWindow"));
    window->setWindowTitle(QStringLiteral("Transfer Center"));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    m_viewController = new TransferCenterViewController(std::move(transferManager));
    m_viewController->setObjectName(QStringLiteral("transferCenterView"));
    layout->addWidget(m_viewController);
    window->resize(contentWidth, contentHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window->geometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    m_window = window;
}

TransferCenterWindowController::~TransferCenterWindowController() {
    delete m_window.data();
}

void TransferCenterWindowController::showWindow() {
    if (!m_window)
        return;
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}
