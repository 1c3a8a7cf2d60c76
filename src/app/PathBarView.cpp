#include "app/PathBarView.h"

#include "uikit/Colours.h"
#include "uikit/Fonts.h"
#include "uikit/PathControl.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QToolButton>
#include <QVBoxLayout>

PathBarView::PathBarView(QWidget* parent) : QWidget(parent) {
    auto* separator = new QFrame;
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Plain);
    separator->setForegroundRole(QPalette::Mid);
    m_pathControl = new PathControl;
    m_pathControl->setObjectName(QStringLiteral("pathBarControl"));
    // The bar navigates only from a segment; the empty area beside them does nothing.
    m_pathControl->onSegmentClicked = [this](int index, const URL&) {
        handleSegmentClick(index);
    };
    auto* row = new QHBoxLayout;
    row->setContentsMargins(8, 0, 8, 0);
    row->addWidget(m_pathControl);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(separator);
    layout->addLayout(row, 1);
    setFixedHeight(barHeight);
}

QString PathBarView::title(const URL& url, const std::optional<QString>& rootName) {
    const QString component = url.lastPathComponent();
    if (!component.isEmpty() && component != u"/")
        return component;
    if (url.scheme() == u"afc")
        return rootName.value_or(QStringLiteral("Device"));
    return QStringLiteral("/");
}

void PathBarView::update(const QList<URL>& urls, const std::optional<QString>& rootName) {
    m_pathURLs = urls;
    m_rootName = rootName;
    QList<PathControl::Segment> segments;
    for (const URL& url : urls)
        segments.append({title(url, rootName), url, QStringLiteral("folder.fill")});
    m_pathControl->setSegments(segments);
    // The control drops leading segments that do not fit, so the current folder always shows;
    // it is drawn stronger than the folders above it.
    for (int i = 0; i < segments.size(); ++i) {
        auto* button = m_pathControl->findChild<QToolButton*>(QStringLiteral("pathSegment-%1").arg(i));
        if (!button)
            continue;
        const bool isLast = i == segments.size() - 1;
        button->setFont(Fonts::system(11, isLast ? Fonts::Weight::semibold : Fonts::Weight::regular));
        button->setIconSize(QSize(12, 12));
        Colours::setLabelColour(button, isLast ? Colours::Label::primary : Colours::Label::secondary);
    }
}

void PathBarView::handleSegmentClick(int index) {
    if (index < 0 || index >= m_pathURLs.size() || !onNavigate)
        return;
    // A copy: the owner's navigation rebuilds the path while the callback runs.
    const URL url = m_pathURLs[index];
    onNavigate(url);
}
