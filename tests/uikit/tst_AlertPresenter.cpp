#include "uikit/AlertPresenter.h"

#include "platform/async/Cancellation.h"
#include "platform/async/RunSync.h"
#include "uikit/AlertDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWidget>

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
