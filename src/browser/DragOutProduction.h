#pragma once

#include "models/FileItem.h"
#include "platform/UiTimerSource.h"
#include "uikit/AlertPresenter.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

class DragAndDropHandler;
class OrvantaDragMimeData;

// The copies that one drag of rows hands to another program. There are no file promises on this
// desktop: a receiver asks for "text/uri-list" and expects files that exist. So the device (and
// other non-computer) items are produced into <staging root>/<drag id>/<row>/<name> as soon as
// the pointer leaves our windows, and the receiver's request waits for them in a local event
// loop that ends when the copies have ended or when the receiver stops waiting (receiverWait),
// whichever comes first; what was not ready by then is left out of the answer and named in the
// warning alert like a copy that failed. Computer items answer their own file URLs.
//
// The views start their drags through execDrag(), which makes one per drag, installs it on the
// drag's data, starts it when the pointer leaves the window and has the user told of what a
// receiver went without. On X11 the drop ends QDrag::exec before the receiver asks for the data,
// so the data keeps its production alive, and the failures are told once the receiver had its
// answer. The produced files stay while the program runs, since the receiver copies them at its
// own pace after the drop: quitting removes this run's folders (removeFoldersOfThisRun()), and a
// run that did not quit cleanly leaves them, in its own run folder (runTemporaryDirectory()), to
// the next start.
class DragOutProduction : public QObject, public std::enable_shared_from_this<DragOutProduction> {
    Q_OBJECT
public:
    // How long a receiver waits for the data it asked for: X11 and GTK give up after about five
    // seconds, and an answer after that reaches nobody.
    static constexpr std::chrono::seconds receiverWait{5};

    // The wait for a receiver is timed on timers, which must outlive the production.
    static std::shared_ptr<DragOutProduction> create(std::shared_ptr<DragAndDropHandler> handler,
                                                     QList<FileItem> items,
                                                     UiTimerSource& timers = UiTimerSource::system());
    ~DragOutProduction() override;

    const QString& dragID() const { return m_dragID; }
    // <staging root>/<drag id>
    QString folder() const;

    // Runs one drag of items out of source until it ends, with computer items only when handler
    // is null. What could not be produced for a receiver is told over source's window through
    // presenter.
    static void execDrag(QWidget* source, QList<FileItem> items, std::shared_ptr<DragAndDropHandler> handler,
                         UiTimerSource& timers, std::shared_ptr<AlertPresenter> presenter);

    // Answers the drag data's outside requests with urls(); the data keeps this alive.
    void install(OrvantaDragMimeData& data);
    // Starts the copies; nothing when they were started before.
    void start();
    bool isStarted() const { return m_started; }
    bool isFinished() const;

    // The receiver's URLs in row order, without the items that could not be produced or were not
    // ready within receiverWait. Starts the copies when needed and waits for them in a local event
    // loop: it is called from inside the platform's data request, which cannot be suspended. The
    // first answer is the drag's: later requests get it at once, and a request made while the
    // first one waits gets what is ready, without a wait of its own. The drag, its data and so the
    // data's hold on this may go during the wait (a receiver that gave up, a cancel): the request
    // keeps this alive until it has its answer.
    QList<QUrl> urls();
    // Whether a request is waiting for the copies now.
    bool isWaiting() const { return m_waiting; }
    // The names of the items that could not be produced, or that the answer went without because
    // they were not ready, in row order.
    QStringList failedNames() const;

    // The one alert naming what the drop left out; nothing when nothing was left out.
    static std::optional<AlertRequest> failureAlert(const QStringList& names);
    // Shows failureAlert() over parent once the drag has ended (the view awaits or spawns it).
    async::Task<void> showFailures(AlertPresenter& presenter, QWidget* parent);
    // Shows failureAlert() over parent on a later turn of the loop once a receiver has had its
    // answer (at once when it has): the receiver may ask only after the drag ended, or never.
    void showFailuresWhenAnswered(std::shared_ptr<AlertPresenter> presenter, QPointer<QWidget> parent);

    // Removes the folders of earlier drags under root that were last changed more than a day
    // before now; the number removed. At start-up, for the folder that versions before run
    // folders staged in, which tells nobody whose its folders are.
    static int removeStaleFolders(const QString& root, const QDateTime& now);
    // Removes the folders that this run's drags made; at quit.
    static void removeFoldersOfThisRun();

signals:
    void finished();
    // The first urls() has its answer.
    void answered();

private:
    DragOutProduction(std::shared_ptr<DragAndDropHandler> handler, QList<FileItem> items,
                      UiTimerSource& timers);

    struct Entry {
        FileItem item;
        std::optional<QUrl> url;
        bool done = false;
        // Left out of the answer because its copy had not ended.
        bool notReady = false;
    };
    QList<QUrl> readyURLs() const;

    void produce(int row);
    void settle(int row, std::optional<QUrl> url);

    std::shared_ptr<DragAndDropHandler> m_handler;
    QList<Entry> m_entries;
    QString m_dragID;
    bool m_started = false;
    bool m_answered = false;
    bool m_waiting = false;
    QList<QUrl> m_answer;
    int m_pending = 0;
    UiTimerSource& m_timers;
};
