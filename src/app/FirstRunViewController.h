#pragma once

#include <QWidget>

#include <functional>

class QPushButton;

// The welcome shown on the first launch: what the application does without mounting the device,
// and that the device must trust the computer. Its one button records that the welcome was seen
// and calls onDismiss.
class FirstRunViewController : public QWidget {
    Q_OBJECT
public:
    explicit FirstRunViewController(QWidget* parent = nullptr);

    std::function<void()> onDismiss;

    QPushButton* getStartedButton() const { return m_button; }

public slots:
    void continueTapped();

private:
    QPushButton* m_button = nullptr;
};
