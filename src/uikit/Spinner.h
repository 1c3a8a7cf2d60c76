#pragma once

#include <QWidget>

class QTimer;

// A small indeterminate progress wheel: hidden while stopped, turning while animating. Only the
// drawing moves; nothing waits on it.
class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(QWidget* parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const;

    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer* m_timer;
    int m_step = 0;
};
