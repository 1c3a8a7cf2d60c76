#include "uikit/AlertPresenter.h"

#include "platform/async/Cancellation.h"
#include "platform/async/RunSync.h"
#include "uikit/AlertDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <functional>

using async::runSync;

namespace {

AlertRequest conflictLike() {
    AlertRequest request;
    request.message = QStringLiteral("\"a.jpg\" already exists.");
    request.informative =
        QStringLiteral("Do you want to replace it, keep both items, or stop this transfer?");
    request.buttons = {QStringLiteral("Replace"), QStringLiteral("Keep Both"), QStringLiteral("Stop")};
    request.checkBox = QStringLiteral("Apply to all conflicts in this transfer");
    return request;
}

// The dialog the presenter opened over window, once it shows.
AlertDialog* openDialog(QWidget& window) {
    for (int round = 0; round < 50; ++round) {
        if (auto* dialog = window.findChild<AlertDialog*>(); dialog && dialog->isVisible())
            return dialog;
        QCoreApplication::processEvents();
    }
    return nullptr;
}

// The alert over window that shows now besides beneath, once it shows.
AlertDialog* openDialogOver(QWidget& window, const AlertDialog* beneath) {
    for (int round = 0; round < 50; ++round) {
        for (AlertDialog* dialog : window.findChildren<AlertDialog*>())
            if (dialog != beneath && dialog->isVisible())
                return dialog;
        QCoreApplication::processEvents();
    }
    return nullptr;
}

AlertRequest transferFailed() {
    return warningAlert(QStringLiteral("Transfer Failed"),
                        QStringLiteral("The iOS device was disconnected during the transfer."));
}

} // namespace

Q_DECLARE_METATYPE(std::function<void(AlertDialog&)>)

// The production alert: buttons in the given order and answered by index from 1000, Return is the
// first button and has the keyboard, Escape answers a "Cancel" button or a lone button, the check
// box and text field come back with the answer, and the question is asked without a nested event
// loop and can be withdrawn.
class tst_AlertPresenter : public QObject {
    Q_OBJECT

private slots:
    void answers_data() {
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<std::function<void(AlertDialog&)>>("act");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("checked");
        const QStringList three{"Replace", "Keep Both", "Stop"};
        QTest::newRow("second button with the box ticked")
            << three << std::function<void(AlertDialog&)>([](AlertDialog& d) {
                   d.checkBox()->setChecked(true);
                   d.buttons().at(1)->click();
               })
            << 1001 << true;
        QTest::newRow("Return is the first button even with another focused")
            << three << std::function<void(AlertDialog&)>([](AlertDialog& d) {
                   d.buttons().at(2)->setFocus();
                   QTest::keyClick(&d, Qt::Key_Return);
               })
            << 1000 << false;
        QTest::newRow("Escape answers Cancel")
            << QStringList{"Delete", "Cancel"}
            << std::function<void(AlertDialog&)>([](AlertDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); })
            << 1001 << false;
        QTest::newRow("Escape answers the only button")
            << QStringList{"OK"}
            << std::function<void(AlertDialog&)>([](AlertDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); })
            << 1000 << false;
        QTest::newRow("the close button answers the only button")
            << QStringList{"OK"} << std::function<void(AlertDialog&)>([](AlertDialog& d) { d.close(); })
            << 1000 << false;
    }

    void answers() {
        QFETCH(QStringList, buttons);
        QFETCH(std::function<void(AlertDialog&)>, act);
        QFETCH(int, code);
        QFETCH(bool, checked);
        QWidget window;
        window.show();
        AlertRequest request = conflictLike();
        request.buttons = buttons;
        DialogAlertPresenter presenter;
        async::Task<AlertResponse> asking = presenter.ask(request, &window, {});
        AlertDialog* dialog = openDialog(window);
        QVERIFY(dialog);
        QVERIFY(!asking.isReady());
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QStringList titles;
        for (QPushButton* button : dialog->buttons())
            titles.append(button->text());
        QCOMPARE(titles, buttons);
        QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("alertMessage"))->text(), request.message);
        act(*dialog);
        QTRY_VERIFY2(asking.isReady(), "the alert is still open");
        const AlertResponse response = runSync(std::move(asking));
        QCOMPARE(response.code, code);
        QCOMPARE(response.checkBoxOn, checked);
    }

    void escapeWithoutCancelIsIgnored() {
        QWidget window;
        window.show();
        DialogAlertPresenter presenter;
        async::Task<AlertResponse> asking = presenter.ask(conflictLike(), &window, {});
        AlertDialog* dialog = openDialog(window);
        QVERIFY(dialog);
        QTest::keyClick(dialog, Qt::Key_Escape);
        dialog->close();
        QCoreApplication::processEvents();
        QVERIFY(dialog->isVisible());
        QVERIFY(!asking.isReady());
        dialog->buttons().at(2)->click();
        QCOMPARE(runSync(std::move(asking)).buttonIndex(), 2);
    }

    // The keyboard starts on the button Return answers, not on a check box that comes first in the
    // tab order (under the GNOME theme Return would tick it); Tab still reaches the box. A name to
    // type keeps the field.
    void focusStartsWhereReturnAnswers_data() {
        QTest::addColumn<bool>("checkBox");
        QTest::addColumn<bool>("textField");
        QTest::addColumn<QStringList>("buttons");
        QTest::newRow("check box above three buttons")
            << true << false << QStringList{"Replace", "Keep Both", "Stop"};
        QTest::newRow("one button") << false << false << QStringList{"OK"};
        QTest::newRow("text field") << false << true << QStringList{"Rename", "Cancel"};
    }

    void focusStartsWhereReturnAnswers() {
        QFETCH(bool, checkBox);
        QFETCH(bool, textField);
        QFETCH(QStringList, buttons);
        QWidget window;
        window.show();
        AlertRequest request = conflictLike();
        request.buttons = buttons;
        if (!checkBox)
            request.checkBox.reset();
        if (textField)
            request.textField = AlertRequest::TextField{QStringLiteral("untitled folder")};
        DialogAlertPresenter presenter;
        async::Task<AlertResponse> asking = presenter.ask(request, &window, {});
        AlertDialog* dialog = openDialog(window);
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        QWidget* expected =
            textField ? static_cast<QWidget*>(dialog->textField()) : dialog->buttons().front();
        QCOMPARE(QApplication::focusWidget(), expected);
        if (checkBox) {
            for (int tabs = 0; tabs < 4 && QApplication::focusWidget() != dialog->checkBox(); ++tabs)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), dialog->checkBox());
        }
        dialog->buttons().front()->click();
        QCOMPARE(runSync(std::move(asking)).buttonIndex(), 0);
    }

    void textFieldComesBackWithTheAnswer() {
        QWidget window;
        window.show();
        AlertRequest request = conflictLike();
        request.textField = AlertRequest::TextField{QStringLiteral("untitled folder")};
        DialogAlertPresenter presenter;
        async::Task<AlertResponse> asking = presenter.ask(request, &window, {});
        AlertDialog* dialog = openDialog(window);
        QVERIFY(dialog);
        QCOMPARE(dialog->textField()->text(), QStringLiteral("untitled folder"));
        QCOMPARE(dialog->textField()->size(), QSize(280, 22));
        dialog->textField()->setText(QStringLiteral("Trip"));
        dialog->buttons().at(0)->click();
        QCOMPARE(runSync(std::move(asking)).text, QStringLiteral("Trip"));
    }

    // A transfer fails while another's name-clash question is open: its alert comes over the
    // question with the keyboard, and once it is closed the question has the keyboard back on the
    // button Return answers (not where a click left it), and answers its keys at once.
    void keyboardGoesBackToTheQuestionBeneath_data() {
        QTest::addColumn<Qt::Key>("key");
        // The question's answer, or -1: still open, the keyboard moved on inside it.
        QTest::addColumn<int>("answer");
        QTest::newRow("Return answers Replace") << Qt::Key_Return << 0;
        QTest::newRow("Escape answers Stop") << Qt::Key_Escape << 2;
        QTest::newRow("Tab moves on") << Qt::Key_Tab << -1;
    }

    void keyboardGoesBackToTheQuestionBeneath() {
        QFETCH(Qt::Key, key);
        QFETCH(int, answer);
        QWidget window;
        window.show();
        window.activateWindow();
        DialogAlertPresenter presenter;
        AlertRequest question = conflictLike();
        question.escapeButton = 2;
        async::Task<AlertResponse> asking = presenter.ask(question, &window, {});
        AlertDialog* beneath = openDialog(window);
        QVERIFY(beneath);
        QTRY_COMPARE(QGuiApplication::focusWindow(), beneath->windowHandle());
        beneath->checkBox()->setFocus(); // as a click on it leaves it

        async::Task<AlertResponse> failed = presenter.ask(transferFailed(), &window, {});
        AlertDialog* over = openDialogOver(window, beneath);
        QVERIFY(over);
        QTRY_COMPARE(QGuiApplication::focusWindow(), over->windowHandle());
        QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Return);
        QTRY_VERIFY2(failed.isReady(), "Return did not close the alert on top");
        QCOMPARE(runSync(std::move(failed)).buttonIndex(), 0);

        QTRY_COMPARE(QGuiApplication::focusWindow(), beneath->windowHandle());
        QCOMPARE(QApplication::focusWidget(), beneath->buttons().front());
        QTest::keyClick(QGuiApplication::focusWindow(), key);
        if (answer < 0) {
            QVERIFY(QApplication::focusWidget() != beneath->buttons().front());
            QVERIFY(beneath->isAncestorOf(QApplication::focusWidget()));
            beneath->buttons().at(1)->click();
            answer = 1;
        }
        QTRY_VERIFY2(asking.isReady(), "the question beneath ignored the key");
        QCOMPARE(runSync(std::move(asking)).buttonIndex(), answer);
    }

    // The newest alert is asked over the topmost one of its window, which it blocks; when the one
    // beneath is withdrawn first, the newer alert stays open over the window, keeps the keyboard
    // and is answered as usual.
    void alertOverAWithdrawnQuestionStays() {
        QWidget window;
        window.show();
        window.activateWindow();
        DialogAlertPresenter presenter;
        std::stop_source stop;
        async::Task<AlertResponse> asking = presenter.ask(conflictLike(), &window, stop.get_token());
        AlertDialog* beneath = openDialog(window);
        QVERIFY(beneath);
        async::Task<AlertResponse> failed = presenter.ask(transferFailed(), &window, {});
        QPointer<AlertDialog> over = openDialogOver(window, beneath);
        QVERIFY(over);
        QCOMPARE(over->parentWidget(), beneath);
        QTRY_COMPARE(QGuiApplication::focusWindow(), over->windowHandle());

        stop.request_stop();
        QVERIFY_THROWS_EXCEPTION(async::CancelledError, runSync(std::move(asking)));
        QVERIFY(over);
        QTRY_VERIFY(over->isVisible());
        QVERIFY(!failed.isReady());
        QCOMPARE(over->parentWidget(), &window);
        QTRY_COMPARE(QGuiApplication::focusWindow(), over->windowHandle());
        QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Return);
        QTRY_VERIFY(failed.isReady());
        QCOMPARE(runSync(std::move(failed)).buttonIndex(), 0);
    }

    void withdrawnQuestionCloses() {
        QWidget window;
        window.show();
        DialogAlertPresenter presenter;
        std::stop_source stop;
        async::Task<AlertResponse> asking = presenter.ask(conflictLike(), &window, stop.get_token());
        QPointer<AlertDialog> dialog = openDialog(window);
        QVERIFY(dialog);
        stop.request_stop();
        QVERIFY_THROWS_EXCEPTION(async::CancelledError, runSync(std::move(asking)));
        QCoreApplication::processEvents();
        QVERIFY(!dialog || !dialog->isVisible());
    }
};

QTEST_MAIN(tst_AlertPresenter)
#include "tst_AlertPresenter.moc"
