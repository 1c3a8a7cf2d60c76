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
// Lets a script check a drag out of the application end to end. The copies can be dragged out of
// it again, into the application: a drag that comes from another program.
class DropReceiver : public QLabel {
public:
    DropReceiver(const QString& folder, QTextStream& out);

    // Copies the files of urls into the folder and prints them; the number copied.
    int receive(const QList<QUrl>& urls);

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
