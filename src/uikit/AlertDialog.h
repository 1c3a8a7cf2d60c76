#pragma once

#include "uikit/AlertPresenter.h"

#include <QDialog>
#include <QList>

class QCheckBox;
class QLineEdit;
class QPushButton;

// The dialog that DialogAlertPresenter opens for one AlertRequest. Asked over another dialog (the
// topmost of its window), it stays open when that one closes first: it moves down onto what that
// one was asked over.
class AlertDialog : public QDialog {
    Q_OBJECT
public:
    explicit AlertDialog(const AlertRequest& request, QWidget* parent = nullptr);

    // The keyboard to where Return answers: the text field when there is one, else the default
    // button (under the GNOME platform theme Return presses whatever has the focus).
    void focusWhereReturnAnswers();

    const QList<QPushButton*>& buttons() const { return m_buttons; }
    QCheckBox* checkBox() const { return m_checkBox; }
    QLineEdit* textField() const { return m_textField; }
    // What the dialog shows now, with the given result code.
    AlertResponse response(int code) const;

public slots:
    // Escape and the close button: the escape button's answer ("Cancel" unless the request names
    // another, else the only button of a one-button alert), or nothing at all.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Starts or stops following the dialog it is asked over.
    void watchParent(bool on);
    void moveDown();

    QList<QPushButton*> m_buttons;
    QCheckBox* m_checkBox = nullptr;
    QLineEdit* m_textField = nullptr;
    int m_cancelIndex = -1;
    // Set while it moves: hidden and shown again, which the alerts over it must not take for a close.
    bool m_moving = false;
};
