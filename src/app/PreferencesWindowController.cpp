#include "app/PreferencesWindowController.h"

#include "app/PreferencesPane.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

PreferencesWindowController::PreferencesWindowController(std::shared_ptr<FolderChooser> chooser) {
    m_window = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                                      Qt::WindowCloseButtonHint);
    m_window->setObjectName(QStringLiteral("preferencesWindow"));
    m_window->setWindowTitle(QStringLiteral("Orvanta Preferences"));
    auto* layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    m_pane = new PreferencesPane(std::move(chooser));
    layout->addWidget(m_pane);
    m_window->setFixedSize(m_pane->size());
    // Escape closes it, as it closes this desktop's settings windows.
    new QShortcut(QKeySequence(Qt::Key_Escape), m_window.get(), m_window.get(), &QWidget::close);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), m_window->size());
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }
}

PreferencesWindowController::~PreferencesWindowController() = default;

void PreferencesWindowController::showWindow() {
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}
