// Who answers a menu command: a focused text editor first for the text commands, the main
// window's controller only while the main window is active, then the application; and the
// menu's enabled states against what would run.

#include "uikit/CommandRouter.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {

class RecordingTarget : public ActionTarget {
public:
    explicit RecordingTarget(QStringList answers) : answers(std::move(answers)) {}
    QStringList answers;
    QStringList performed;
    bool validate(const QString& selector) override { return answers.contains(selector); }
    void perform(const QString& selector, QObject*) override { performed << selector; }
};

} // namespace

class tst_CommandRouter : public QObject {
    Q_OBJECT

private slots:
    void routing_data() {
        QTest::addColumn<QString>("focus");  // "none", "line", "readonly", "plain", "button"
        QTest::addColumn<QString>("active"); // "main" or "other"
        QTest::addColumn<QString>("selector");
        QTest::addColumn<QString>("expected"); // "editor", "main", "app" or "nobody"

        const auto row = [](const char* tag, const char* focus, const char* active, const char* selector,
                            const char* expected) {
            QTest::newRow(tag) << QString::fromLatin1(focus) << QString::fromLatin1(active)
                               << QString::fromLatin1(selector) << QString::fromLatin1(expected);
        };
        row("editor takes copy first", "line", "main", "copy:", "editor");
        row("plain text editor takes paste", "plain", "main", "paste:", "editor");
        row("editor takes delete", "line", "main", "deleteBackward:", "editor");
        row("read-only field does not", "readonly", "main", "copy:", "main");
        row("a button does not", "button", "main", "selectAll:", "main");
        row("editor leaves other commands", "line", "main", "goBackAction:", "main");
        row("main window active", "none", "main", "copy:", "main");
        row("other window: never the browser", "none", "other", "copy:", "nobody");
        row("other window: the application", "none", "other", "showTransferCenter:", "app");
        row("main first, application second", "none", "main", "showTransferCenter:", "main");
        row("nobody answers", "none", "main", "zoom:", "nobody");
    }

    void routing() {
        QFETCH(QString, focus);
        QFETCH(QString, active);
        QFETCH(QString, selector);
        QFETCH(QString, expected);

        QWidget mainWindow;
        auto* line = new QLineEdit(QStringLiteral("some text"), &mainWindow);
        auto* readOnly = new QLineEdit(QStringLiteral("read only"), &mainWindow);
        readOnly->setReadOnly(true);
        auto* plain = new QPlainTextEdit(&mainWindow);
        auto* button = new QPushButton(QStringLiteral("OK"), &mainWindow);
        QWidget otherWindow;
        RecordingTarget main(QStringList{"copy:", "selectAll:", "goBackAction:", "showTransferCenter:"});
        RecordingTarget application(QStringList{"showTransferCenter:"});
        CommandRouter router;
        router.setMainWindow(&mainWindow, &main);
        router.setApplicationTarget(&application);

        QWidget* window = active == u"main" ? &mainWindow : &otherWindow;
        window->show();
        QApplication::setActiveWindow(window);
        QVERIFY(QTest::qWaitForWindowActive(window));
        const QHash<QString, QWidget*> focusable{
            {"line", line}, {"readonly", readOnly}, {"plain", plain}, {"button", button}};
        if (QWidget* widget = focusable.value(focus)) {
            widget->setFocus();
            QTRY_COMPARE(QApplication::focusWidget(), widget);
        } else if (QWidget* shown = QApplication::focusWidget()) {
            // Showing the window focused its first editor.
            shown->clearFocus();
            QVERIFY(!QApplication::focusWidget());
        }

        const QString lineTextBefore = line->text();
        QCOMPARE(router.validate(selector), expected != u"nobody");
        QCOMPARE(router.sendAction(selector), expected != u"nobody");
        QCOMPARE(main.performed, expected == u"main" ? QStringList{selector} : QStringList());
        QCOMPARE(application.performed, expected == u"app" ? QStringList{selector} : QStringList());
        if (selector == u"deleteBackward:" && expected == u"editor")
            QCOMPARE(line->text(), lineTextBefore.chopped(1));
    }

    // The menu shows what would run, and a command whose state went stale since runs only when
    // it is valid now.
    void revalidation() {
        QWidget mainWindow;
        mainWindow.show();
        QApplication::setActiveWindow(&mainWindow);
        QVERIFY(QTest::qWaitForWindowActive(&mainWindow));
        RecordingTarget main(QStringList{"goBackAction:"});
        CommandRouter router;
        router.setMainWindow(&mainWindow, &main);
        QMenu menu;
        QAction* back = router.addAction(&menu, QStringLiteral("Back"), QStringLiteral("goBackAction:"));
        QAction* forward =
            router.addAction(&menu, QStringLiteral("Forward"), QStringLiteral("goForwardAction:"));
        router.revalidate();
        QVERIFY(back->isEnabled());
        QVERIFY(!forward->isEnabled());

        main.answers = QStringList{"goForwardAction:"};
        QMetaObject::invokeMethod(&menu, "aboutToShow");
        QVERIFY(!back->isEnabled());
        QVERIFY(forward->isEnabled());

        // Stale: enabled, but the controller no longer answers.
        main.answers.clear();
        forward->trigger();
        QCOMPARE(main.performed, QStringList());
        main.answers = QStringList{"goForwardAction:"};
        forward->trigger();
        QCOMPARE(main.performed, QStringList{"goForwardAction:"});
    }

    // A window that becomes active without a focused widget, and a key pressed while an enabled
    // state is stale: both find the command enabled when it applies.
    void windowCommandsFollowActivationAndKeys() {
        QWidget mainWindow;
        QWidget other;
        bool anyWindowActive = false;
        struct WindowTarget : RecordingTarget {
            using RecordingTarget::RecordingTarget;
            bool* gate = nullptr;
            bool validate(const QString& selector) override {
                return *gate && QApplication::activeWindow() && RecordingTarget::validate(selector);
            }
        } target(QStringList{"performClose:"});
        target.gate = &anyWindowActive;
        CommandRouter router;
        router.setMainWindow(&mainWindow, nullptr);
        router.setApplicationTarget(&target);
        QMenu menu;
        QAction* close = router.addAction(&menu, QStringLiteral("Close Window"), QStringLiteral("performClose:"),
                                          QKeySequence(QStringLiteral("Ctrl+W")), Qt::ApplicationShortcut);
        other.addAction(close);
        mainWindow.show();
        QApplication::setActiveWindow(&mainWindow);
        QVERIFY(QTest::qWaitForWindowActive(&mainWindow));
        QVERIFY(!QApplication::focusWidget());

        router.revalidate();
        QVERIFY(!close->isEnabled());
        anyWindowActive = true;
        other.show();
        QApplication::setActiveWindow(&other);
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QTRY_VERIFY(close->isEnabled());

        anyWindowActive = false;
        router.revalidate();
        QVERIFY(!close->isEnabled());
        anyWindowActive = true;
        QTest::keyClick(&other, Qt::Key_W, Qt::ControlModifier);
        QCOMPARE(target.performed, QStringList{"performClose:"});
    }
};

QTEST_MAIN(tst_CommandRouter)
#include "tst_CommandRouter.moc"
