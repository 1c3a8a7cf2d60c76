#pragma once

#include "models/FileItem.h"
#include "uikit/AlertPresenter.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

class DragAndDropHandler;
class OrvantaDragMimeData;

// The copies that one drag of rows hands to another program. There are no file promises on this
// desktop: a receiver asks for "text/uri-list" and expects files that exist. So the device (and
// other non-computer) items are produced into <staging root>/<drag id>/<row>/<name> as soon as
// the pointer leaves our windows, and the receiver's request waits for them in a local event
// loop, bounded by the copies' stall watchdog. Computer items answer their own file URLs.
//
// The drag's starter (a browser view) makes one per drag, calls install() on the drag's data,
// start() when the pointer leaves the window, and after the drag showFailures() (hookup: the
// views' drag start, next to QDrag::exec). The produced files stay until the next start, since
// the receiver copies them at its own pace after the drop; removeStaleFolders() runs then.
class DragOutProduction : public QObject {
    Q_OBJECT
public:
    static std::shared_ptr<DragOutProduction> create(std::shared_ptr<DragAndDropHandler> handler,
                                                     QList<FileItem> items);
    ~DragOutProduction() override;

    const QString& dragID() const { return m_dragID; }
    // <staging root>/<drag id>
    QString folder() const;

    // Answers the drag data's outside requests with urls().
    void install(OrvantaDragMimeData& data);
    // Starts the copies; nothing when they were started before.
    void start();
    bool isStarted() const { return m_started; }
    bool isFinished() const;

    // The receiver's URLs in row order, without the items that could not be produced. Starts the
    // copies when needed and waits for all of them in a local event loop: it is called from
    // inside the platform's data request, which cannot be suspended.
    QList<QUrl> urls();
    // The names of the items that could not be produced, in row order.
    QStringList failedNames() const;

    // The one alert naming what the drop left out; nothing when nothing was left out.
    static std::optional<AlertRequest> failureAlert(const QStringList& names);
    // Shows failureAlert() over parent once the drag has ended (the view awaits or spawns it).
    async::Task<void> showFailures(AlertPresenter& presenter, QWidget* parent);

    // Removes the folders of earlier drags under root that were last changed more than a day
    // before now; the number removed. At start-up.
    static int removeStaleFolders(const QString& root, const QDateTime& now);

signals:
    void finished();

private:
    DragOutProduction(std::shared_ptr<DragAndDropHandler> handler, QList<FileItem> items);

    struct Entry {
        FileItem item;
        std::optional<QUrl> url;
        bool done = false;
    };

    void produce(int row);
    void settle(int row, std::optional<QUrl> url);

    std::shared_ptr<DragAndDropHandler> m_handler;
    QList<Entry> m_entries;
    QString m_dragID;
    bool m_started = false;
    int m_pending = 0;
};
