#include "app/StatusBarView.h"

#include "platform/ByteCountFormatter.h"
#include "uikit/Colours.h"
#include "uikit/Fonts.h"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

#include <limits>

StatusBarView::StatusBarView(QWidget* parent) : QWidget(parent) {
    auto* separator = new QFrame;
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Plain);
    separator->setForegroundRole(QPalette::Mid);
    m_label = new QLabel;
    m_label->setObjectName(QStringLiteral("statusBarLabel"));
    m_label->setFont(Fonts::system(11));
    m_label->setAlignment(Qt::AlignCenter);
    // Ignored width: a long text is cut short, it never widens the window.
    m_label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    Colours::setLabelColour(m_label, Colours::Label::secondary);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 0, 12, 2);
    layout->setSpacing(2);
    layout->addWidget(separator);
    layout->addWidget(m_label, 1);
    setFixedHeight(barHeight);
}

QString StatusBarView::text(qsizetype itemCount, const QSet<FileItem>& selection) {
    if (selection.isEmpty())
        return QStringLiteral("%1 item%2").arg(itemCount).arg(itemCount == 1 ? "" : "s");
    // Sizes come from devices and disks: a sum past the largest count stays at the largest
    // rather than wrapping round to a small one. A folder's own size is its directory entry's,
    // not what it holds: only files count.
    quint64 total = 0;
    for (const FileItem& item : selection) {
        if (item.isDirectory())
            continue;
        total = item.size() > std::numeric_limits<quint64>::max() - total
                    ? std::numeric_limits<quint64>::max()
                    : total + item.size();
    }
    QString text = QStringLiteral("%1 of %2 selected").arg(selection.size()).arg(itemCount);
    if (total > 0)
        text += QStringLiteral(", ") + ByteCountFormatter::file(total);
    return text;
}

void StatusBarView::update(qsizetype itemCount, const QSet<FileItem>& selection) {
    m_text = text(itemCount, selection);
    elide();
}

void StatusBarView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    elide();
}

void StatusBarView::elide() {
    const int width = m_label->width();
    m_label->setText(width > 0 ? m_label->fontMetrics().elidedText(m_text, Qt::ElideRight, width) : m_text);
}
