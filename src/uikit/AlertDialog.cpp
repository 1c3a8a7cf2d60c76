#include "uikit/AlertDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QStyle::StandardPixmap iconFor(AlertSpec::Style style) {
    switch (style) {
    case AlertSpec::Style::informational:
        return QStyle::SP_MessageBoxInformation;
    case AlertSpec::Style::critical:
        return QStyle::SP_MessageBoxCritical;
    case AlertSpec::Style::warning:
        break;
    }
    return QStyle::SP_MessageBoxWarning;
}

} // namespace

AlertDialog::AlertDialog(const AlertSpec& spec, QWidget* parent) : QDialog(parent) {
    // Modal to its window only: other windows, and every task, go on meanwhile.
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    setWindowTitle(spec.message);

    auto* icon = new QLabel(this);
    const int extent = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(iconFor(spec.style), nullptr, this).pixmap(extent, extent));
    icon->setAlignment(Qt::AlignTop);

    auto* message = new QLabel(spec.message, this);
    message->setObjectName(QStringLiteral("alertMessage"));
    message->setWordWrap(true);
    message->setTextFormat(Qt::PlainText);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);

    auto* texts = new QVBoxLayout;
    texts->addWidget(message);
    if (!spec.informative.isEmpty()) {
        auto* informative = new QLabel(spec.informative, this);
        informative->setObjectName(QStringLiteral("alertInformative"));
        informative->setWordWrap(true);
        informative->setTextFormat(Qt::PlainText);
        texts->addWidget(informative);
    }
    if (spec.textField) {
        m_textField = new QLineEdit(spec.textField->initialText, this);
        m_textField->setFixedSize(spec.textField->width, spec.textField->height);
        texts->addWidget(m_textField);
    }
    if (spec.checkBox) {
        m_checkBox = new QCheckBox(*spec.checkBox, this);
        texts->addWidget(m_checkBox);
    }

    auto* row = new QHBoxLayout;
    row->addStretch();
    for (qsizetype index = 0; index < spec.buttons.size(); ++index) {
        auto* button = new QPushButton(spec.buttons.at(index), this);
        // Focus must not move Return to another button: Return always means the first one.
        button->setAutoDefault(false);
        button->setDefault(index == 0);
        const int code = AlertResponse::firstButton + int(index);
        connect(button, &QPushButton::clicked, this, [this, code] { done(code); });
        if (m_cancelIndex < 0 && spec.buttons.at(index) == QLatin1String("Cancel"))
            m_cancelIndex = int(index);
        m_buttons.append(button);
        row->addWidget(button);
    }

    auto* body = new QHBoxLayout;
    body->addWidget(icon);
    body->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body);
    layout->addLayout(row);
    if (m_textField)
        m_textField->setFocus();
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
