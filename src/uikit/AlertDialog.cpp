#include "uikit/AlertDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QStyle::StandardPixmap iconFor(AlertRequest::Style style) {
    switch (style) {
    case AlertRequest::Style::informational:
        return QStyle::SP_MessageBoxInformation;
    case AlertRequest::Style::critical:
        return QStyle::SP_MessageBoxCritical;
    case AlertRequest::Style::warning:
        break;
    }
    return QStyle::SP_MessageBoxWarning;
}

} // namespace

AlertDialog::AlertDialog(const AlertRequest& request, QWidget* parent) : QDialog(parent) {
    // Modal to its window only: other windows, and every task, go on meanwhile.
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    setWindowTitle(request.message);

    auto* icon = new QLabel(this);
    const int extent = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(iconFor(request.style), nullptr, this).pixmap(extent, extent));
    icon->setAlignment(Qt::AlignTop);

    auto* message = new QLabel(request.message, this);
    message->setObjectName(QStringLiteral("alertMessage"));
    message->setWordWrap(true);
    message->setTextFormat(Qt::PlainText);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);

    auto* texts = new QVBoxLayout;
    texts->addWidget(message);
    if (!request.informative.isEmpty()) {
        auto* informative = new QLabel(request.informative, this);
        informative->setObjectName(QStringLiteral("alertInformative"));
        informative->setWordWrap(true);
        informative->setTextFormat(Qt::PlainText);
        texts->addWidget(informative);
    }
    if (request.textField) {
        m_textField = new QLineEdit(request.textField->initialText, this);
        m_textField->setFixedSize(request.textField->width, request.textField->height);
        texts->addWidget(m_textField);
    }
    if (request.checkBox) {
        m_checkBox = new QCheckBox(*request.checkBox, this);
        texts->addWidget(m_checkBox);
    }

    auto* row = new QHBoxLayout;
    row->addStretch();
    for (qsizetype index = 0; index < request.buttons.size(); ++index) {
        auto* button = new QPushButton(request.buttons.at(index), this);
        // Focus must not make another button the default: Return means the first one. (Under the
        // GNOME theme a button the user tabbed to still takes Return itself, as that desktop's do.)
        button->setAutoDefault(false);
        button->setDefault(index == 0);
        const int code = AlertResponse::firstButton + int(index);
        connect(button, &QPushButton::clicked, this, [this, code] { done(code); });
        if (request.escapeButton ? *request.escapeButton == index
                                 : m_cancelIndex < 0 && request.buttons.at(index) == QLatin1String("Cancel"))
            m_cancelIndex = int(index);
        m_buttons.append(button);
        row->addWidget(button);
    }
    // A message with nothing to choose closes on Escape, as every message of this desktop does.
    if (!request.escapeButton && m_cancelIndex < 0 && m_buttons.size() == 1)
        m_cancelIndex = 0;

    auto* body = new QHBoxLayout;
    body->addWidget(icon);
    body->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body);
    layout->addLayout(row);
    focusWhereReturnAnswers();
    watchParent(true);
}

void AlertDialog::focusWhereReturnAnswers() {
    // A check box first in the tab order would otherwise take Return under the GNOME theme. A name
    // to type keeps the focus in its field, which hands Return on to the default button.
    if (m_textField)
        m_textField->setFocus();
    else if (!m_buttons.isEmpty())
        m_buttons.front()->setFocus();
}

void AlertDialog::watchParent(bool on) {
    // Only a dialog beneath closes while this one is open; a window beneath takes it along.
    if (auto* below = qobject_cast<QDialog*>(parentWidget())) {
        if (on)
            below->installEventFilter(this);
        else
            below->removeEventFilter(this);
    }
}

bool AlertDialog::eventFilter(QObject* watched, QEvent* event) {
    // Hidden by the program (a window manager's minimizing is spontaneous and leaves it shown):
    // the dialog beneath is closing, and its children go with it when it is deleted.
    if (watched == parentWidget() && event->type() == QEvent::Hide && !event->spontaneous()) {
        const auto* below = qobject_cast<const AlertDialog*>(watched);
        if (!(below && below->m_moving) && static_cast<QWidget*>(watched)->isHidden())
            moveDown();
    }
    return QDialog::eventFilter(watched, event);
}

void AlertDialog::moveDown() {
    QWidget* onto = parentWidget()->parentWidget();
    const bool hadKeyboard = isActiveWindow();
    m_moving = true;
    watchParent(false);
    // Keeps it a dialog, modal as before; a new parent hides it, and showing it again makes it
    // transient for its new parent, which the window manager then keeps it above.
    setParent(onto, windowFlags());
    watchParent(true);
    show();
    m_moving = false;
    if (hadKeyboard)
        activateWindow();
}

AlertResponse AlertDialog::response(int code) const {
    AlertResponse response;
    response.code = code;
    response.checkBoxOn = m_checkBox && m_checkBox->isChecked();
    response.text = m_textField ? m_textField->text() : QString();
    return response;
}

void AlertDialog::reject() {
    if (m_cancelIndex >= 0)
        done(AlertResponse::firstButton + m_cancelIndex);
}
