#pragma once

#include <QDir>
#include <QLabel>
#include <QList>
#include <QStringList>
#include <QTextStream>
#include <QUrl>

// A window that takes the files dropped on it as another program would: it asks the drop for
// "text/uri-list", copies each local file it names into its folder (the original names, an
// existing copy replaced) and prints each URL it was given on its own line, then "copied N".
// Lets a script check a drag out of the application end to end. The copies, and any file it is
// offered, can be dragged out of it again, into the application: a drag that comes from another
// program. It prints "drag entered" when a drag of files comes over it, "dragging N" when it
// starts a drag of N files and "drag ended: copy" or "drag ended: none" when that drag is over,
// so that a script can wait for each.
class DropReceiver : public QLabel {
public:
    DropReceiver(const QString& folder, QTextStream& out);

    // Copies the files of urls into the folder and prints them; the number copied. A file that is
    // already the one in the folder counts as copied and is left as it is.
    int receive(const QList<QUrl>& urls);
    // Adds a file to what a drag out of the window carries.
    void offer(const QUrl& file) { m_copies.append(file); }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QDir m_folder;
    QTextStream& m_out;
    QList<QUrl> m_copies;
    QPoint m_pressedAt;
};
