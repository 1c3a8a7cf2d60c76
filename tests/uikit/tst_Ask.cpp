// ask(): the question is shown without a nested event loop and answered through the awaiting
// coroutine; withdrawing it (stop request, dialog destroyed) closes it and ends in
// CancelledError.

#include "platform/async/Cancellation.h"
#include "platform/async/RunSync.h"
#include "uikit/Ask.h"

#include <QDialog>
#include <QtTest>

#include <memory>
#include <thread>

using namespace async;

class tst_Ask : public QObject {
    Q_OBJECT

private slots:
    void resumesWithTheAnswer_data() {
        QTest::addColumn<int>("answer");
        QTest::newRow("rejected") << int(QDialog::Rejected);
        QTest::newRow("custom code") << 2;
    }

    void resumesWithTheAnswer() {
        QFETCH(int, answer);
        QDialog dialog;
        auto question = ask(&dialog, {});
        QVERIFY(dialog.isVisible());
        QVERIFY(!question.isReady()); // open() returned: no nested loop is running
        dialog.done(answer);
        QCOMPARE(runSync(std::move(question)), answer);
    }

    void stopFromAnotherThreadClosesTheDialogForThisQuestionOnly() {
        QDialog dialog;
        std::stop_source stop;
        auto question = ask(&dialog, stop.get_token());
        std::thread canceller([&stop] { stop.request_stop(); });
        canceller.join();
        QVERIFY_THROWS_EXCEPTION(CancelledError, runSync(std::move(question)));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));

        // Nothing of the withdrawn question may answer or cancel the next one.
        auto second = ask(&dialog, {});
        dialog.accept();
        QCOMPARE(runSync(std::move(second)), int(QDialog::Accepted));
    }

    void destroyedDialogCancels() {
        auto dialog = std::make_unique<QDialog>();
        auto question = ask(dialog.get(), {});
        dialog.reset();
        QVERIFY_THROWS_EXCEPTION(CancelledError, runSync(std::move(question)));
    }
};

QTEST_MAIN(tst_Ask)
#include "tst_Ask.moc"
