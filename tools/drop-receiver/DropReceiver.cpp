#include "DropReceiver.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>

namespace {
const QString uriList = QStringLiteral("text/uri-list");
} // namespace

DropReceiver::DropReceiver(const QString& folder, QTextStream& out)
    : QLabel(QStringLiteral("Drop files here")), m_folder(folder), m_out(out) {
    setAcceptDrops(true);
    setAlignment(Qt::AlignCenter);
    setWindowTitle(QStringLiteral("Drop Receiver"));
}

int DropReceiver::receive(const QList<QUrl>& urls) {
    int copied = 0;
    for (const QUrl& url : urls) {
        m_out << url.toString(QUrl::FullyEncoded) << Qt::endl;
        const QFileInfo source(url.toLocalFile());
        if (!url.isLocalFile() || !source.isFile()) {
            m_out << "not a file: " << url.toString() << Qt::endl;
            continue;
        }
        const QString target = m_folder.filePath(source.fileName());
        QFile::remove(target);
        if (QFile::copy(source.filePath(), target))
            ++copied;
        else
            m_out << "could not copy " << source.filePath() << Qt::endl;
    }
    m_out << "copied " << copied << Qt::endl;
    return copied;
}

void DropReceiver::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasFormat(uriList))
        event->acceptProposedAction();
}

void DropReceiver::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasFormat(uriList))
        event->acceptProposedAction();
}

void DropReceiver::dropEvent(QDropEvent* event) {
    if (!event->mimeData()->hasFormat(uriList))
        return;
    event->acceptProposedAction();
    receive(event->mimeData()->urls());
}
