#include "DropReceiver.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>

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
        // One of its own copies dropped back on it: replacing it would remove the very file.
        if (QFileInfo(target).canonicalFilePath() == source.canonicalFilePath()) {
            ++copied;
            continue;
        }
        QFile::remove(target);
        if (QFile::copy(source.filePath(), target)) {
            ++copied;
            m_copies.append(QUrl::fromLocalFile(target));
        } else
            m_out << "could not copy " << source.filePath() << Qt::endl;
    }
    m_out << "copied " << copied << Qt::endl;
    return copied;
}

void DropReceiver::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasFormat(uriList))
        return;
    event->acceptProposedAction();
    m_out << "drag entered" << Qt::endl;
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

void DropReceiver::mousePressEvent(QMouseEvent* event) {
    m_pressedAt = event->position().toPoint();
}

void DropReceiver::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || m_copies.isEmpty() ||
        (event->position().toPoint() - m_pressedAt).manhattanLength() < QApplication::startDragDistance())
        return;
    auto* drag = new QDrag(this);
    auto* data = new QMimeData;
    data->setUrls(m_copies);
    drag->setMimeData(data);
    // The first file's picture under the pointer, where it is one: what a hand sees it carry.
    const QImage picture(m_copies.first().toLocalFile());
    if (!picture.isNull())
        drag->setPixmap(
            QPixmap::fromImage(picture.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    m_out << "dragging " << m_copies.size() << Qt::endl;
    const Qt::DropAction done = drag->exec(Qt::CopyAction);
    m_out << "drag ended: " << (done == Qt::CopyAction ? "copy" : "none") << Qt::endl;
}
