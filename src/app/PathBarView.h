#pragma once

#include "platform/URL.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class PathControl;

// The breadcrumb strip under the browser: one clickable segment per folder of the column
// browser's path, the current folder last and drawn stronger. A click reports the segment's
// folder through onNavigate; what to do with it is the owner's business.
class PathBarView : public QWidget {
    Q_OBJECT
public:
    static constexpr int barHeight = 24;

    explicit PathBarView(QWidget* parent = nullptr);

    // Shows the folders, first to last; rootName titles a device's root segment.
    void update(const QList<URL>& urls, const std::optional<QString>& rootName);
    const QList<URL>& pathURLs() const { return m_pathURLs; }
    std::optional<QString> rootName() const { return m_rootName; }
    PathControl* pathControl() const { return m_pathControl; }

    // A segment's title: the folder's name; for a root, the device's name ("Device" without one)
    // or "/" for this computer's.
    static QString title(const URL& url, const std::optional<QString>& rootName);

    // Reports the segment's folder; an index out of range (the path changed between drawing
    // and clicking) is ignored.
    void handleSegmentClick(int index);

    std::function<void(const URL&)> onNavigate;

private:
    PathControl* m_pathControl = nullptr;
    QList<URL> m_pathURLs;
    std::optional<QString> m_rootName;
};
