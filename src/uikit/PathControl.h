#pragma once

#include "platform/URL.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QHBoxLayout;
class QToolButton;

// A location shown as a row of clickable segments, root first ("/ › home › ana › Downloads").
// Segments that do not fit are dropped from the front, so the folder itself stays readable; the
// tool tip carries the whole path. The control only shows and reports: what a click does is the
// owner's business, through the callbacks.
class PathControl : public QWidget {
    Q_OBJECT
public:
    struct Segment {
        QString title;
        URL url;
        // A symbol name for Symbols::icon; empty for none.
        QString symbolName;
        bool operator==(const Segment&) const = default;
    };

    explicit PathControl(QWidget* parent = nullptr);

    // A local folder as one segment per component. Nothing (or an empty URL) shows no segments.
    void setURL(std::optional<URL> url);
    std::optional<URL> url() const { return m_url; }
    // Segments of the owner's making (a device root titled with the device's name, for instance).
    void setSegments(QList<Segment> segments, std::optional<URL> url = std::nullopt);
    const QList<Segment>& segments() const { return m_segments; }
    // The segments shown now, after dropping those that do not fit.
    int visibleSegmentCount() const;
    // The segments' buttons, first to last, those dropped included.
    const QList<QToolButton*>& segmentButtons() const { return m_buttons; }

    // The segments a local folder makes: "/" for the root, then one per component.
    static QList<Segment> segmentsForLocalURL(const URL& url);

    // A click anywhere on the control, and which segment it hit (-1 for the empty area).
    std::function<void()> onClick;
    std::function<void(int index, const URL& url)> onSegmentClicked;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void rebuild();
    void fitToWidth();
    void segmentClicked(int index);

    QHBoxLayout* m_layout = nullptr;
    QList<Segment> m_segments;
    std::optional<URL> m_url;
    QList<QToolButton*> m_buttons;
    QList<QWidget*> m_separators;
    QWidget* m_ellipsis = nullptr;
};
