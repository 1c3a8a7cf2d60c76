#pragma once

#include "models/FileItem.h"

#include <QSet>
#include <QString>
#include <QWidget>

class QLabel;

// The one-line strip at the bottom of the main window: how many items the shown folder holds,
// or how many of them are selected and their size.
class StatusBarView : public QWidget {
    Q_OBJECT
public:
    static constexpr int barHeight = 22;

    explicit StatusBarView(QWidget* parent = nullptr);

    void update(qsizetype itemCount, const QSet<FileItem>& selection);
    // What update() shows: "12 items", "1 item"; "2 of 14 selected, 3.4 MB", without the size
    // when the selected items' stored sizes add up to nothing.
    static QString text(qsizetype itemCount, const QSet<FileItem>& selection);

    QLabel* label() const { return m_label; }
    // The whole text; the label shows it cut short at the end when the window is narrow.
    QString fullText() const { return m_text; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QLabel* m_label = nullptr;
    QString m_text;
};
