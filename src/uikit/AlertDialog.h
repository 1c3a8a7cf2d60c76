#pragma once

#include "uikit/AlertPresenter.h"

#include <QDialog>
#include <QList>

class QCheckBox;
class QLineEdit;
class QPushButton;

// The dialog that DialogAlertPresenter opens for one AlertRequest.
class AlertDialog : public QDialog {
    Q_OBJECT
public:
    explicit AlertDialog(const AlertRequest& request, QWidget* parent = nullptr);

    const QList<QPushButton*>& buttons() const { return m_buttons; }
    QCheckBox* checkBox() const { return m_checkBox; }
    QLineEdit* textField() const { return m_textField; }
    // What the dialog shows now, with the given result code.
    AlertResponse response(int code) const;

public slots:
    // Escape and the close button: the escape button's answer ("Cancel" unless the request names
    // another, else the only button of a one-button alert), or nothing at all.
    void reject() override;

private:
    QList<QPushButton*> m_buttons;
    QCheckBox* m_checkBox = nullptr;
    QLineEdit* m_textField = nullptr;
    int m_cancelIndex = -1;
};
