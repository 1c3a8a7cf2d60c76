#include "uikit/Spinner.h"

#include <QPainter>
#include <QTimer>

namespace {

constexpr int spokes = 12;

} // namespace

Spinner::Spinner(QWidget* parent) : QWidget(parent), m_timer(new QTimer(this)) {
    setFixedSize(16, 16);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_timer->setInterval(80);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % spokes;
        update();
    });
    hide();
}

void Spinner::startAnimation() {
    m_timer->start();
    show();
}

void Spinner::stopAnimation() {
    m_timer->stop();
    hide();
}

bool Spinner::isAnimating() const {
    return m_timer->isActive();
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const double radius = std::min(width(), height()) / 2.0;
    QColor colour = palette().color(QPalette::WindowText);
    for (int spoke = 0; spoke < spokes; ++spoke) {
        colour.setAlphaF(0.15 + 0.85 * ((spoke + spokes - m_step) % spokes) / double(spokes));
        painter.setPen(QPen(colour, 1.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.9));
        painter.rotate(360.0 / spokes);
    }
}
