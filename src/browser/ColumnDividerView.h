#pragma once

#include <QWidget>

#include <functional>

// The thin strip after each column: a one-pixel line and the resize cursor. It only reports each
// drag step as a horizontal delta; the column browser decides what to resize.
class ColumnDividerView : public QWidget {
    Q_OBJECT
public:
    static constexpr int stripWidth = 6;

    explicit ColumnDividerView(QWidget* parent = nullptr);

    // Each step since the previous mouse position, without Alt; with Alt held, onOptionDrag
    // alone is told (there is no falling back to onDrag).
    std::function<void(double)> onDrag;
    std::function<void(double)> onOptionDrag;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    // Window coordinates: the strip itself moves while its column grows.
    double m_dragStartX = 0;
};
