#include "browser/ErrorPlaceholderView.h"

#include "device/AFCError.h"
#include "platform/async/AsyncLog.h"
#include "uikit/Colours.h"
#include "uikit/Fonts.h"
#include "uikit/Symbols.h"

#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QLabel* makeLabel(const QString& text, int pixelSize, Fonts::Weight weight, Colours::Label colour) {
    auto* label = new QLabel(text);
    label->setFont(Fonts::system(pixelSize, weight));
    label->setAlignment(Qt::AlignHCenter);
    label->setWordWrap(true);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    Colours::setLabelColour(label, colour);
    return label;
}

} // namespace

ErrorPlaceholderView::ErrorPlaceholderView(const QString& symbolName, const QString& title,
                                           const std::optional<QString>& message, QWidget* parent)
    : QWidget(parent), m_symbolName(symbolName) {
    setObjectName(QStringLiteral("errorPlaceholder"));
    setAutoFillBackground(true);

    auto* image = new QLabel;
    image->setObjectName(QStringLiteral("placeholderImage"));
    image->setProperty(Symbols::symbolNameProperty, symbolName);
    image->setAlignment(Qt::AlignHCenter);
    const QIcon icon = Symbols::icon(symbolName);
    if (!icon.isNull())
        image->setPixmap(icon.pixmap(28, 28));

    auto* titleLabel = makeLabel(title, 14, Fonts::Weight::medium, Colours::Label::primary);
    titleLabel->setObjectName(QStringLiteral("placeholderTitle"));

    auto* stack = new QVBoxLayout;
    stack->setSpacing(6);
    stack->addWidget(image, 0, Qt::AlignHCenter);
    stack->addSpacing(4); // ten in all between the symbol and the title
    stack->addWidget(titleLabel);
    if (message) {
        auto* messageLabel = makeLabel(*message, 12, Fonts::Weight::regular, Colours::Label::secondary);
        messageLabel->setObjectName(QStringLiteral("placeholderMessage"));
        stack->addWidget(messageLabel);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 0, 20, 0);
    layout->addStretch();
    layout->addLayout(stack);
    layout->addStretch();
}

// The layout sizes a wrapped label for the lines it has at its widest, not at the width it gets
// between stretches: at a column's width the last lines would be cut off. Each label asks for the
// height its lines take at the width there is.
void ErrorPlaceholderView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int available =
        contentsRect().width() - layout()->contentsMargins().left() - layout()->contentsMargins().right();
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label->wordWrap())
            label->setMinimumHeight(label->heightForWidth(std::max(available, 1)));
    }
}

ErrorPlaceholderView* ErrorPlaceholderView::forError(std::exception_ptr error, QWidget* parent) {
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const AFCError& afcError) {
        if (afcError.errorCase() == AFCError::Case::appNotFileAccessible)
            return new ErrorPlaceholderView(
                QStringLiteral("xmark.app"), QStringLiteral("USB File Access Not Available"),
                QStringLiteral("This app doesn’t share files over USB.\n"
                               "Only apps with File Sharing enabled are accessible."),
                parent);
        if (afcError.errorCase() == AFCError::Case::deviceLocked)
            return new ErrorPlaceholderView(QStringLiteral("lock.fill"), QStringLiteral("iPhone Is Locked"),
                                            QStringLiteral("Unlock your iPhone and try again."), parent);
    } catch (...) {
    }
    return new ErrorPlaceholderView(QStringLiteral("exclamationmark.triangle"),
                                    async::describeException(error), std::nullopt, parent);
}

QString ErrorPlaceholderView::title() const {
    auto* label = findChild<QLabel*>(QStringLiteral("placeholderTitle"));
    return label ? label->text() : QString();
}

QString ErrorPlaceholderView::message() const {
    auto* label = findChild<QLabel*>(QStringLiteral("placeholderMessage"));
    return label ? label->text() : QString();
}
