#include "app/FirstRunViewController.h"

#include "platform/UserDefaults.h"
#include "services/PreferencesViewController.h"
#include "uikit/Colours.h"
#include "uikit/Fonts.h"
#include "uikit/Symbols.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel* label(const QString& text, int pixelSize, Fonts::Weight weight, bool secondary, bool wraps) {
    auto* result = new QLabel(text);
    result->setFont(Fonts::system(pixelSize, weight));
    result->setAlignment(Qt::AlignHCenter);
    if (secondary) {
        Colours::setLabelColour(result, Colours::Label::secondary);
    }
    if (wraps) {
        // A fixed width lets the layout ask for the height the wrapped text needs; with only a
        // maximum, a centred label gets its narrow hint and its last lines are cut off.
        result->setWordWrap(true);
        result->setFixedWidth(380);
    }
    return result;
}

} // namespace

FirstRunViewController::FirstRunViewController(QWidget* parent) : QWidget(parent) {
    setFixedSize(480, 320);

    auto* symbol = new QLabel;
    symbol->setObjectName(QStringLiteral("welcomeSymbol"));
    symbol->setProperty(Symbols::symbolNameProperty, QStringLiteral("cable.connector"));
    symbol->setAccessibleName(QStringLiteral("Setup"));
    symbol->setPixmap(Symbols::icon(QStringLiteral("cable.connector")).pixmap(48, 48));
    symbol->setAlignment(Qt::AlignHCenter);

    m_button = new QPushButton(QStringLiteral("Get Started"));
    m_button->setDefault(true);
    connect(m_button, &QPushButton::clicked, this, &FirstRunViewController::continueTapped);

    auto* stack = new QVBoxLayout;
    stack->setSpacing(12);
    stack->addWidget(symbol, 0, Qt::AlignHCenter);
    stack->addWidget(label(QStringLiteral("Welcome to Orvanta"), 22, Fonts::Weight::semibold, false, false),
                     0, Qt::AlignHCenter);
    stack->addWidget(
        label(QStringLiteral("Orvanta communicates directly with your iPhone or iPad over USB. It talks "
                             "to the device directly without ifuse or a FUSE kernel extension."),
              13, Fonts::Weight::regular, true, true),
        0, Qt::AlignHCenter);
    stack->addWidget(label(QStringLiteral("Device Trust"), 13, Fonts::Weight::medium, false, false), 0,
                     Qt::AlignHCenter);
    stack->addWidget(
        label(QStringLiteral("When connecting your iPhone or iPad for the first time, tap \"Trust\" on the "
                             "device and enter your passcode. This allows Orvanta to access the "
                             "filesystem."),
              12, Fonts::Weight::regular, true, true),
        0, Qt::AlignHCenter);
    stack->addWidget(m_button, 0, Qt::AlignHCenter);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(40, 0, 40, 0);
    root->addStretch();
    root->addLayout(stack);
    root->addStretch();
}

void FirstRunViewController::continueTapped() {
    PreferencesViewController::defaults().set(QString(PreferencesViewController::hasCompletedFirstRunKey),
                                              true);
    if (onDismiss)
        onDismiss();
}
