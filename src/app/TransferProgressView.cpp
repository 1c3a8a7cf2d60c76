#include "app/TransferProgressView.h"

#include "platform/ByteCountFormatter.h"
#include "platform/ObservableOperators.h"
#include "transfer/TransferManager.h"
#include "uikit/Colours.h"
#include "uikit/Fonts.h"

#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QString dash = QStringLiteral(" \u2014 ");
const QString calculating = QStringLiteral("Calculating...");

// A label that keeps its whole text but draws it shortened in the middle, so that a long file
// name shows its start and its extension and never widens the panel.
class MiddleElidedLabel : public QLabel {
public:
    using QLabel::QLabel;

    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRect area = contentsRect();
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width());
        painter.setPen(palette().color(foregroundRole()));
        painter.drawText(area, int(alignment()), shown);
    }
};

struct Totals {
    quint64 bytesTransferred = 0;
    quint64 totalBytes = 0;
    double bytesPerSecond = 0;
};

Totals sum(const QList<Transfer>& transfers) {
    Totals totals;
    for (const Transfer& transfer : transfers) {
        totals.bytesTransferred += transfer.progress.bytesTransferred;
        totals.totalBytes += transfer.progress.totalBytes;
        totals.bytesPerSecond += transfer.progress.bytesPerSecond;
    }
    return totals;
}

// A whole number of a non-negative estimate, printed without going through an integer type:
// an estimate can be far larger than any integer when the speed is tiny.
QString wholeNumber(double value) {
    return QString::number(std::trunc(value), 'f', 0);
}

} // namespace

TransferProgressView::TransferProgressView(TransferManager& transferManager, UiTimerSource& timers,
                                           QWidget* parent)
    : QWidget(parent), m_transferManager(transferManager) {
    setupViews();
    bind(timers);
}

TransferProgressView::~TransferProgressView() = default;

void TransferProgressView::setupViews() {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    m_headerLabel = new QLabel(QStringLiteral("Copying files..."));
    m_headerLabel->setObjectName(QStringLiteral("headerLabel"));
    m_headerLabel->setFont(Fonts::system(13, Fonts::Weight::medium));

    m_overallProgress = new QProgressBar;
    m_overallProgress->setObjectName(QStringLiteral("overallProgress"));
    m_overallProgress->setRange(0, progressMaximum);
    m_overallProgress->setValue(0);
    m_overallProgress->setTextVisible(false);

    m_currentFileLabel = new MiddleElidedLabel;
    m_currentFileLabel->setObjectName(QStringLiteral("currentFileLabel"));
    m_currentFileLabel->setFont(Fonts::system(11));
    m_currentFileLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    Colours::setLabelColour(m_currentFileLabel, Colours::Label::secondary);

    m_speedLabel = new QLabel;
    m_speedLabel->setObjectName(QStringLiteral("speedLabel"));
    m_speedLabel->setFont(Fonts::system(11));
    m_speedLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    Colours::setLabelColour(m_speedLabel, Colours::Label::tertiary);

    m_cancelButton = new QPushButton(QStringLiteral("Cancel"));
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setAutoDefault(false);
    m_cancelButton->setFont(Fonts::system(11));
    connect(m_cancelButton, &QPushButton::clicked, this, &TransferProgressView::cancelClicked);

    // The file's name and the speed line each get the panel's width: side by side, the speed
    // line alone takes three quarters of it and leaves the name a few letters.
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(12, 8, 12, 8);
    stack->setSpacing(6);
    stack->addWidget(m_headerLabel, 0, Qt::AlignLeft);
    stack->addWidget(m_overallProgress);
    stack->addWidget(m_currentFileLabel);
    stack->addWidget(m_speedLabel);
    stack->addWidget(m_cancelButton, 0, Qt::AlignLeft);
}

void TransferProgressView::bind(UiTimerSource& timers) {
    QPointer<TransferProgressView> self(this);
    m_subscription = throttleLatest(m_transferManager.activeTransfers, timers)
                         .subscribe(
                             [self](const QList<Transfer>& transfers) {
                                 if (!self)
                                     return;
                                 if (!transfers.isEmpty())
                                     self->updateWith(transfers);
                                 self->setHidden(transfers.isEmpty());
                             },
                             Delivery::Queued);
}

void TransferProgressView::updateWith(const QList<Transfer>& transfers) {
    if (transfers.isEmpty())
        return;
    const Totals totals = sum(transfers);
    m_headerLabel->setText(headerText(transfers));
    m_currentFileLabel->setText(transfers.first().progress.currentFile);
    m_currentFileLabel->update();
    m_speedLabel->setText(speedText(totals.bytesTransferred, totals.totalBytes, totals.bytesPerSecond));

    // The bar last: a new value repaints the panel at once, and with the texts already set that
    // is the update's one redraw, not a first of two.
    if (totals.totalBytes == 0) {
        // Only empty folders, or nothing counted yet: a busy bar rather than one standing at 0.
        m_overallProgress->setRange(0, 0);
    } else {
        m_overallProgress->setRange(0, progressMaximum);
        m_overallProgress->setValue(progressValue(totals.bytesTransferred, totals.totalBytes));
    }

    // Cancel stops what the user saw, not a transfer that started after this update.
    QList<QUuid> shown;
    shown.reserve(transfers.size());
    for (const Transfer& transfer : transfers)
        shown.append(transfer.id);
    QPointer<TransferProgressView> self(this);
    onCancel = [self, shown] {
        if (!self)
            return;
        for (const QUuid& id : shown)
            self->m_transferManager.cancelTransfer(id);
    };
}

void TransferProgressView::cancelClicked() {
    // Copied first: cancelling publishes the active list, which may rebuild the callback.
    const std::function<void()> cancel = onCancel;
    if (cancel)
        cancel();
}

QString TransferProgressView::headerText(const QList<Transfer>& transfers) {
    qint64 totalFiles = 0;
    qint64 counted = 0;
    for (const Transfer& transfer : transfers) {
        const qint64 total = std::max<qint64>(transfer.progress.totalFiles, 0);
        const qint64 completed = std::max<qint64>(transfer.progress.filesCompleted, 0);
        totalFiles += total;
        // min(completed + 1, total), written so that it cannot overflow.
        counted += total == 0 ? 0 : std::min(completed, total - 1) + 1;
    }
    QString text = totalFiles == 1 ? QStringLiteral("Copying 1 item")
                                   : QStringLiteral("Copying %1 of %2 items").arg(counted).arg(totalFiles);
    if (transfers.size() >= 2)
        text += QStringLiteral(" (%1 transfers)").arg(transfers.size());
    return text;
}

QString TransferProgressView::remainingText(quint64 transferred, quint64 total, double bytesPerSecond) {
    // Bytes past the total (a file that grew while it was copied) leave nothing to estimate; the
    // difference is taken only when it is positive, so it can never wrap round.
    if (!(bytesPerSecond > 0) || !std::isfinite(bytesPerSecond) || transferred >= total)
        return calculating;
    const double seconds = double(total - transferred) / bytesPerSecond;
    if (!std::isfinite(seconds))
        return calculating;
    if (seconds >= 60)
        return QStringLiteral("About %1 minutes remaining").arg(wholeNumber(seconds / 60));
    return QStringLiteral("About %1 seconds remaining").arg(wholeNumber(seconds));
}

QString TransferProgressView::speedText(quint64 transferred, quint64 total, double bytesPerSecond) {
    quint64 speed = 0;
    if (bytesPerSecond > 0 && std::isfinite(bytesPerSecond)) {
        constexpr double limit = double(std::numeric_limits<quint64>::max());
        speed = bytesPerSecond >= limit ? std::numeric_limits<quint64>::max() : quint64(bytesPerSecond);
    }
    return ByteCountFormatter::file(transferred) + QStringLiteral(" of ") + ByteCountFormatter::file(total) +
           dash + ByteCountFormatter::file(speed) + QStringLiteral("/s") + dash +
           remainingText(transferred, total, bytesPerSecond);
}

int TransferProgressView::progressValue(quint64 transferred, quint64 total) {
    if (total == 0 || transferred >= total)
        return total == 0 ? 0 : progressMaximum;
    // In 128 bits: bytes times the scale may not fit in 64, and a fraction in floating point
    // can land a hair under a whole step.
    const auto scaled = static_cast<unsigned __int128>(transferred) * progressMaximum / total;
    return int(scaled);
}
