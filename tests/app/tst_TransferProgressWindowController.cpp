// The floating progress panel over made-up transfer records: the header's count and the bytes,
// speed and time line as tables, when and where the panel shows and closes (scripts against a
// manual clock), how often its view redraws, and what Cancel stops.

#include "TemporaryDefaults.h"
#include "app/TransferProgressView.h"
#include "app/TransferProgressWindowController.h"
#include "platform/ManualUiTimerSource.h"
#include "platform/NotificationCenter.h"
#include "platform/async/ManualClock.h"
#include "transfer/TransferManager.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <limits>

using namespace std::chrono_literals;

namespace {

Transfer makeTransfer(qint64 completed = 0, qint64 total = 1, quint64 bytesDone = 0, quint64 bytesTotal = 0,
                      double speed = 0, const QString& currentFile = {}) {
    Transfer transfer;
    transfer.id = QUuid::createUuid();
    transfer.progress = {bytesDone, bytesTotal, currentFile, completed, total, speed};
    return transfer;
}

// Cancels nothing for real: it only notes which transfers it was asked to stop.
class RecordingTransferManager : public TransferManager {
public:
    using TransferManager::TransferManager;
    QList<QUuid> cancelled;
    void cancelTransfer(QUuid id) override { cancelled.append(id); }
};

struct Fixture {
    TemporaryDefaults defaults;
    async::ManualClock clock;
    NotificationCenter notifications;
    RecordingTransferManager manager{defaults.store(), clock, notifications};
    ManualUiTimerSource timers;
    QWidget mainWindow;
    TransferProgressWindowController controller{manager, &mainWindow, timers};
    TransferProgressView& view = *controller.progressView();
};

void deliver() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace

class tst_TransferProgressWindowController : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_fixture.reset(); }

    void header_data();
    void header();
    void speedLine_data();
    void speedLine();
    void showsAndCloses_data();
    void showsAndCloses();
    void viewFollowsTheThrottledList();
    void cancelStopsTheTransfersLastShown();
    void longNameAndSpeedLineBothFit();
    void rowsKeepTheirMarginsAndSpacing();

private:
    std::unique_ptr<Fixture> m_fixture;
};

void tst_TransferProgressWindowController::init() {
    m_fixture = std::make_unique<Fixture>();
    m_fixture->mainWindow.setGeometry(100, 80, 1100, 700);
    m_fixture->mainWindow.show();
    m_fixture->controller.bind();
    // The empty list heard at subscription opens an interval; each test starts after it.
    deliver();
    m_fixture->timers.advance(100ms);
}

void tst_TransferProgressWindowController::header_data() {
    // Completed and total files, per transfer.
    QTest::addColumn<QList<qint64>>("counts");
    QTest::addColumn<QString>("expected");
    QTest::newRow("one file") << QList<qint64>{0, 1} << "Copying 1 item";
    QTest::newRow("two transfers") << QList<qint64>{2, 5, 0, 4} << "Copying 4 of 9 items (2 transfers)";
    // A record stays in the active list for a moment after its last file was counted.
    QTest::newRow("all files done") << QList<qint64>{5, 5} << "Copying 5 of 5 items";
    QTest::newRow("one of two done") << QList<qint64>{3, 3, 1, 2} << "Copying 5 of 5 items (2 transfers)";
    QTest::newRow("more done than planned") << QList<qint64>{7, 5} << "Copying 5 of 5 items";
    QTest::newRow("not counted yet") << QList<qint64>{0, 0} << "Copying 0 of 0 items";
}

void tst_TransferProgressWindowController::header() {
    QFETCH(QList<qint64>, counts);
    QFETCH(QString, expected);
    QList<Transfer> records;
    for (qsizetype index = 0; index + 1 < counts.size(); index += 2)
        records.append(makeTransfer(counts.at(index), counts.at(index + 1)));
    QCOMPARE(TransferProgressView::headerText(records), expected);
}

void tst_TransferProgressWindowController::speedLine_data() {
    QTest::addColumn<quint64>("transferred");
    QTest::addColumn<quint64>("total");
    QTest::addColumn<double>("speed");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("bar");
    QTest::newRow("under way") << quint64(120'000'000) << quint64(1'000'000'000) << 35'000'000.0
                               << "120 MB of 1 GB — 35 MB/s — About 25 seconds remaining" << 120;
    QTest::newRow("standing still") << quint64(1) << quint64(3) << 0.0
                                    << "1 byte of 3 bytes — Zero KB/s — Calculating..." << 333;
    QTest::newRow("ninety seconds") << quint64(0) << quint64(90'000'000) << 1'000'000.0
                                    << "Zero KB of 90 MB — 1 MB/s — About 1 minutes remaining" << 0;
    QTest::newRow("59.9 seconds, speed truncated")
        << quint64(0) << quint64(59'900) << 1000.9 << "Zero KB of 60 KB — 1 KB/s — About 59 seconds remaining"
        << 0;
    // A file that grew while it was read: the estimate must not wrap round to ages.
    QTest::newRow("past the total") << quint64(1'000'000'001) << quint64(1'000'000'000) << 5'000'000.0
                                    << "1 GB of 1 GB — 5 MB/s — Calculating..." << 1000;
    QTest::newRow("speed not a number")
        << quint64(0) << quint64(5'000) << std::numeric_limits<double>::quiet_NaN()
        << "Zero KB of 5 KB — Zero KB/s — Calculating..." << 0;
    QTest::newRow("estimate beyond any number") << quint64(1) << std::numeric_limits<quint64>::max() << 1e-300
                                                << "1 byte of 18.45 EB — Zero KB/s — Calculating..." << 0;
    // Bytes times the bar's scale no longer fit in 64 bits.
    QTest::newRow("huge counts") << (quint64(1) << 62) << (quint64(1) << 63) << 1e12
                                 << "4.61 EB of 9.22 EB — 1 TB/s — About 76861 minutes remaining" << 500;
}

void tst_TransferProgressWindowController::speedLine() {
    QFETCH(quint64, transferred);
    QFETCH(quint64, total);
    QFETCH(double, speed);
    QFETCH(QString, expected);
    QFETCH(int, bar);
    QCOMPARE(TransferProgressView::speedText(transferred, total, speed), expected);
    QCOMPARE(TransferProgressView::progressValue(transferred, total), bar);
}

void tst_TransferProgressWindowController::showsAndCloses_data() {
    // "start" adds a transfer, "end" removes the oldest, "wait <ms>" moves the clock, "close" is
    // the user closing the panel; after each step the panel is shown, closing (a hide pending) or
    // closed.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("states");
    QTest::newRow("closes half a second after the last transfer")
        << QStringList{"start", "wait 100", "end", "wait 100", "wait 399", "wait 1"}
        << QStringList{"shown", "shown", "closing", "closing", "closing", "closed"};
    QTest::newRow("a new transfer within the half second keeps it")
        << QStringList{"start", "wait 100", "end", "wait 400", "start", "wait 100", "wait 600"}
        << QStringList{"shown", "shown", "closing", "closing", "shown", "shown", "shown"};
    QTest::newRow("stays while one of two runs, ends with the interval's last value")
        << QStringList{"start", "start", "wait 100", "end", "end", "wait 100", "wait 500"}
        << QStringList{"shown", "shown", "shown", "shown", "shown", "closing", "closed"};
    QTest::newRow("closed by the user, shown by the next update")
        << QStringList{"start", "close", "wait 100", "start"}
        << QStringList{"shown", "closed", "closed", "shown"};
}

void tst_TransferProgressWindowController::showsAndCloses() {
    QFETCH(QStringList, steps);
    QFETCH(QStringList, states);
    Fixture& f = *m_fixture;
    QWidget* panel = f.controller.window();
    QCOMPARE(panel->parentWidget(), &f.mainWindow);
    QVERIFY(!panel->isVisible());

    QList<Transfer> active;
    std::optional<QRect> moved;
    for (qsizetype index = 0; index < steps.size(); ++index) {
        const QString step = steps.at(index);
        if (step == u"start" || step == u"end") {
            step == u"start" ? active.append(makeTransfer()) : active.removeFirst();
            f.manager.activeTransfers = active;
        } else if (step == u"close") {
            panel->close();
        } else {
            f.timers.advance(std::chrono::milliseconds(step.mid(5).toInt()));
        }
        deliver();
        const QString state = !panel->isVisible()              ? QStringLiteral("closed")
                              : f.controller.isHideScheduled() ? QStringLiteral("closing")
                                                               : QStringLiteral("shown");
        QVERIFY2(state == states.at(index), qPrintable(QStringLiteral("step %1: %2").arg(index).arg(state)));
        if (!panel->isVisible()) {
            moved.reset();
        } else if (!moved) {
            // Shown 20 px inside the window's bottom-right corner (y grows downwards); then the
            // user drags it away, and it is not moved back while it stays up.
            const QRect window = f.mainWindow.geometry();
            QCOMPARE(panel->geometry(),
                     QRect(window.right() + 1 - 20 - 420, window.bottom() + 1 - 20 - 130, 420, 130));
            panel->move(panel->pos() - QPoint(30, 30));
            moved = panel->geometry();
        } else {
            QCOMPARE(panel->geometry(), *moved);
        }
    }
}

// Sums over the transfers; a busy bar without bytes; at most one list per interval (the first at
// once, then only the latest); an empty list hides the view and keeps its last texts.
void tst_TransferProgressWindowController::viewFollowsTheThrottledList() {
    Fixture& f = *m_fixture;
    f.manager.activeTransfers = QList<Transfer>{makeTransfer(0, 2, 0, 0, 0, "Empty")};
    for (quint64 done = 0; done < 500; ++done)
        f.manager.activeTransfers =
            QList<Transfer>{makeTransfer(1, 3, done, 3'000'000, 500'000, "IMG_0002.JPG"),
                            makeTransfer(0, 1, done, 1'000'000, 500'000, "clip.mov")};
    deliver();
    QVERIFY(f.view.isVisible());
    QCOMPARE(f.view.headerLabel()->text(), QStringLiteral("Copying 1 of 2 items"));
    QCOMPARE(f.view.overallProgress()->maximum(), 0);

    f.timers.advance(99ms);
    deliver();
    QCOMPARE(f.view.overallProgress()->maximum(), 0);
    f.timers.advance(1ms);
    deliver();
    QCOMPARE(f.view.headerLabel()->text(), QStringLiteral("Copying 3 of 4 items (2 transfers)"));
    QCOMPARE(f.view.overallProgress()->maximum(), TransferProgressView::progressMaximum);
    QCOMPARE(f.view.currentFileLabel()->text(), QStringLiteral("IMG_0002.JPG"));
    QCOMPARE(f.view.speedLabel()->text(),
             QStringLiteral("998 bytes of 4 MB — 1 MB/s — About 3 seconds remaining"));

    f.timers.advance(100ms);
    f.manager.activeTransfers = QList<Transfer>{};
    deliver();
    QVERIFY(f.view.isHidden());
    QCOMPARE(f.view.headerLabel()->text(), QStringLiteral("Copying 3 of 4 items (2 transfers)"));
}

void tst_TransferProgressWindowController::cancelStopsTheTransfersLastShown() {
    Fixture& f = *m_fixture;
    const Transfer first = makeTransfer();
    const Transfer second = makeTransfer();
    f.manager.activeTransfers = QList<Transfer>{first, second};
    deliver();
    // A third starts inside the interval: the panel has not shown it yet, so Cancel spares it.
    f.manager.activeTransfers = QList<Transfer>{first, second, makeTransfer()};
    deliver();
    f.view.cancelButton()->click();
    QCOMPARE(f.manager.cancelled, (QList<QUuid>{first.id, second.id}));
}

// At the panel's fixed size a long file name and the whole speed line are both readable, and
// nothing falls off the panel's bottom.
void tst_TransferProgressWindowController::longNameAndSpeedLineBothFit() {
    Fixture& f = *m_fixture;
    const QString name = QStringLiteral("IMG_0001 holiday at the beach, evening.MOV");
    f.manager.activeTransfers =
        QList<Transfer>{makeTransfer(8, 9, 84'000'000, 231'000'000, 20'000'000, name)};
    deliver();
    QWidget* panel = f.controller.window();
    QVERIFY(panel->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(panel));
    for (QLabel* label : {f.view.currentFileLabel(), f.view.speedLabel()}) {
        QVERIFY2(label->contentsRect().width() >= label->fontMetrics().horizontalAdvance(label->text()),
                 qPrintable(label->text()));
    }
    for (QWidget* child : {static_cast<QWidget*>(f.view.headerLabel()),
                           static_cast<QWidget*>(f.view.overallProgress()),
                           static_cast<QWidget*>(f.view.currentFileLabel()),
                           static_cast<QWidget*>(f.view.speedLabel()),
                           static_cast<QWidget*>(f.view.cancelButton())}) {
        const QRect inView(child->mapTo(&f.view, QPoint(0, 0)), child->size());
        QVERIFY2(f.view.rect().contains(inView), child->objectName().toLatin1());
        QVERIFY2(child->height() >= child->minimumSizeHint().height(), child->objectName().toLatin1());
    }
}

// The rows stand 8 px inside the panel's top and bottom and 12 px inside its sides, 6 px apart,
// and the file's name has the panel's whole inner width.
void tst_TransferProgressWindowController::rowsKeepTheirMarginsAndSpacing() {
    Fixture& f = *m_fixture;
    f.manager.activeTransfers = QList<Transfer>{makeTransfer(0, 3, 1'000, 9'000, 500, QStringLiteral("a.MOV"))};
    deliver();
    QVERIFY(QTest::qWaitForWindowExposed(f.controller.window()));
    const QList<QWidget*> rows{f.view.headerLabel(), f.view.overallProgress(), f.view.currentFileLabel(),
                               f.view.speedLabel(), f.view.cancelButton()};
    QList<QRect> frames;
    for (QWidget* row : rows)
        frames.append(QRect(row->mapTo(&f.view, QPoint(0, 0)), row->size()));
    QCOMPARE(frames.first().top(), 8);
    QVERIFY(frames.last().bottom() + 1 <= f.view.height() - 8);
    for (qsizetype i = 0; i < frames.size(); ++i) {
        QCOMPARE(frames[i].left(), 12);
        if (i > 0)
            QCOMPARE(frames[i].top() - frames[i - 1].bottom() - 1, 6);
    }
    QCOMPARE(f.view.currentFileLabel()->width(), f.view.width() - 24);
}

QTEST_MAIN(tst_TransferProgressWindowController)
#include "tst_TransferProgressWindowController.moc"
