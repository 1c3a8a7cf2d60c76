// What must hold under every desktop setting. Qt takes a desktop's platform theme only on the X11
// platform (offscreen has none), so ctest runs this program on a virtual display of its own once
// for each setting: GNOME, whose theme presses a focused check box or button with Return, and KDE,
// whose does not.

#include "app/AlertConflictPrompter.h"
#include "app/Toolbar.h"
#include "platform/async/RunSync.h"
#include "uikit/AlertDialog.h"
#include "uikit/AlertPresenter.h"

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QStyleFactory>
#include <QTest>
#include <QToolButton>

using async::runSync;

namespace {

bool gnomeSetting() {
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':');
    return desktops.contains(QStringLiteral("GNOME"), Qt::CaseInsensitive) ||
           qEnvironmentVariable("QT_QPA_PLATFORMTHEME").compare(u"gnome", Qt::CaseInsensitive) == 0;
}

// No window manager runs on the test's display to hand a new window the keyboard: the test does.
void showActive(QWidget& window) {
    window.show();
    window.activateWindow();
}

// The darkest grey level a widget draws: its label, on the light scheme these settings give.
int darkest(QWidget* widget) {
    const QImage image = widget->grab().toImage();
    int level = 255;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            level = qMin(level, qGray(image.pixel(x, y)));
    return level;
}

} // namespace

class tst_DesktopSettings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // As the application does.
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    }

    // The run has the setting it is for, or the tests below would prove nothing: under GNOME a
    // focused check box takes Return, elsewhere Return goes on to the window.
    void theSettingsOwnReturn() {
        QWidget window;
        auto* box = new QCheckBox(QStringLiteral("Apply"), &window);
        showActive(window);
        QTRY_COMPARE(QApplication::activeWindow(), &window);
        box->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(box->isChecked(), gnomeSetting());
    }

    // Return answers the name-clash question's first button, Replace, with the box unticked, sent
    // where the keyboard is when the question opens.
    void returnAnswersTheNameClashQuestion() {
        QWidget window;
        showActive(window);
        QTRY_COMPARE(QApplication::activeWindow(), &window);
        AlertConflictPrompter prompter(std::make_shared<DialogAlertPresenter>(), &window);
        async::Task<ConflictAnswer> asking = prompter.ask(QStringLiteral("IMG_0001.JPG"), {});
        // Deleted once answered.
        QPointer<AlertDialog> dialog;
        QTRY_VERIFY((dialog = window.findChild<AlertDialog*>()) && dialog->isVisible());
        dialog->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(dialog.data()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        const bool answered = QTest::qWaitFor([&] { return asking.isReady(); });
        const bool ticked = dialog && dialog->checkBox()->isChecked();
        if (!answered && dialog)
            dialog->buttons().at(2)->click(); // ends the question before the test fails
        QVERIFY2(answered, ticked ? "Return ticked the check box" : "Return did not answer");
        QCOMPARE(runSync(std::move(asking)), (ConflictAnswer{ConflictResolution::replace, false}));
    }

    // A disabled Back or Forward is plainly grey and an enabled one plainly dark, in the toolbar as
    // the window shows it (the theme's own icons included).
    void backAndForwardShowWhetherTheyWork() {
        QMainWindow window;
        auto* toolbar = new Toolbar;
        window.addToolBar(toolbar);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (const bool backWorks : {false, true}) {
            toolbar->backButton()->setEnabled(backWorks);
            toolbar->forwardButton()->setEnabled(!backWorks);
            QToolButton* working = backWorks ? toolbar->backButton() : toolbar->forwardButton();
            QToolButton* idle = backWorks ? toolbar->forwardButton() : toolbar->backButton();
            const int enabledLevel = darkest(working);
            const int disabledLevel = darkest(idle);
            QVERIFY2(enabledLevel <= 80,
                     qPrintable(QStringLiteral("enabled is faint: %1").arg(enabledLevel)));
            QVERIFY2(disabledLevel >= 150,
                     qPrintable(QStringLiteral("disabled is not grey: %1").arg(disabledLevel)));
        }
    }
};

QTEST_MAIN(tst_DesktopSettings)
#include "tst_DesktopSettings.moc"
