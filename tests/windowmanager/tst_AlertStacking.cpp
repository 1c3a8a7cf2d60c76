// How the alerts of one window stack under a real window manager, the one the screenshots run
// under: told by the X server itself, not by Qt's idea of the active window. The window manager's
// order of its windows (_NET_CLIENT_LIST_STACKING, bottom first) says which alert is seen, the X
// input focus says where a key goes, and the keys are pressed through the X server (xdotool).

#include "app/AlertConflictPrompter.h"
#include "platform/async/RunSync.h"
#include "platform/async/TaskHandle.h"
#include "uikit/AlertDialog.h"
#include "uikit/AlertPresenter.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QStyleFactory>
#include <QTest>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

using async::runSync;

namespace {

xcb_connection_t* connection() {
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_window_t rootWindow() {
    return xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
}

xcb_atom_t atom(const char* name) {
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection(), 0, uint16_t(qstrlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection(), cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The windows the window manager keeps, bottom first.
QList<xcb_window_t> stacking() {
    const xcb_get_property_cookie_t cookie = xcb_get_property(
        connection(), 0, rootWindow(), atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW, 0, 1024);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection(), cookie, nullptr), &std::free);
    QList<xcb_window_t> windows;
    if (!reply || reply->format != 32)
        return windows;
    const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / int(sizeof(xcb_window_t));
    for (int index = 0; index < count; ++index)
        windows.append(ids[index]);
    return windows;
}

// widget's place in the window manager's order, -1 while it does not keep the window.
int place(const QWidget* widget) {
    return widget ? int(stacking().indexOf(xcb_window_t(widget->winId()))) : -1;
}

// The window the X server hands the keys to.
xcb_window_t inputFocus() {
    std::unique_ptr<xcb_get_input_focus_reply_t, decltype(&std::free)> reply(
        xcb_get_input_focus_reply(connection(), xcb_get_input_focus(connection()), nullptr), &std::free);
    return reply ? reply->focus : xcb_window_t(XCB_WINDOW_NONE);
}

bool hasKeyboard(const QWidget* widget) {
    return widget && inputFocus() == xcb_window_t(widget->winId());
}

// Keys as the keyboard presses them, one after the other: through the X server, to the window
// that has its focus.
bool press(const QString& keys) {
    QStringList arguments{QStringLiteral("key"), QStringLiteral("--clearmodifiers")};
    arguments.append(keys.split(u' '));
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

enum class Clicked { nothing, window, question };

// Sends the window manager a message on window's behalf; it handles its messages in order.
void tellWindowManager(const QWidget* window, const char* message, uint32_t first, uint32_t second) {
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = xcb_window_t(window->winId());
    event.type = atom(message);
    event.data.data32[0] = first;
    event.data.data32[1] = second;
    xcb_send_event(connection(), 0, rootWindow(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection());
}

bool isSticky(const QWidget* window) {
    const xcb_get_property_cookie_t cookie = xcb_get_property(
        connection(), 0, xcb_window_t(window->winId()), atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 32);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection(), cookie, nullptr), &std::free);
    if (!reply || reply->format != 32)
        return false;
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / int(sizeof(xcb_atom_t));
    return std::find(atoms, atoms + count, atom("_NET_WM_STATE_STICKY")) != atoms + count;
}

// Asks the window manager to activate window as it does for a click on it (from the user, not
// the program), and waits until it has: a harmless request sent after it (sticky, on the only
// workspace) shows when the window manager has got that far.
bool activateAsAClickDoes(const QWidget* window) {
    constexpr uint32_t fromTheUser = 2;
    constexpr uint32_t add = 1;
    tellWindowManager(window, "_NET_ACTIVE_WINDOW", fromTheUser, XCB_CURRENT_TIME);
    tellWindowManager(window, "_NET_WM_STATE", add, atom("_NET_WM_STATE_STICKY"));
    return QTest::qWaitFor([window] { return isSticky(window); });
}

AlertDialog* visibleAlertBesides(QWidget& window, const QWidget* besides) {
    for (AlertDialog* dialog : window.findChildren<AlertDialog*>())
        if (dialog != besides && dialog->isVisible())
            return dialog;
    return nullptr;
}

} // namespace

class tst_AlertStacking : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    }

    // A transfer fails while another transfer's name-clash question is open: its alert is seen
    // above the question and has the keyboard, also after a click on the window or the question
    // beneath (a click that hands the keyboard to a window the newest alert blocks loses every key).
    // Once Return closes it, the question has the keyboard back and answers its keys at once.
    void newestAlertIsOnTopWithTheKeyboard_data() {
        QTest::addColumn<Clicked>("clicked");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<ConflictAnswer>("answer");
        QTest::newRow("Return answers Replace")
            << Clicked::nothing << QStringLiteral("Return") << ConflictAnswer{ConflictResolution::replace, false};
        QTest::newRow("a click on the window, Escape answers Stop")
            << Clicked::window << QStringLiteral("Escape") << ConflictAnswer{ConflictResolution::stop, false};
        QTest::newRow("a click on the question, Tab to Keep Both, Space presses it")
            << Clicked::question << QStringLiteral("Tab space")
            << ConflictAnswer{ConflictResolution::keepBoth, false};
    }

    void newestAlertIsOnTopWithTheKeyboard() {
        QFETCH(Clicked, clicked);
        QFETCH(QString, keys);
        QFETCH(ConflictAnswer, answer);
        QWidget window;
        window.setWindowTitle(QStringLiteral("Orvanta"));
        window.resize(700, 450);
        window.show();
        QTRY_VERIFY(place(&window) >= 0);
        auto presenter = std::make_shared<DialogAlertPresenter>();
        AlertConflictPrompter prompter(presenter, &window);
        async::Task<ConflictAnswer> asking = prompter.ask(QStringLiteral("IMG_0001.JPG"), {});
        QPointer<AlertDialog> question;
        QTRY_VERIFY((question = visibleAlertBesides(window, nullptr)) && place(question) >= 0);
        QTRY_VERIFY2(hasKeyboard(question), "the question did not get the keyboard");

        async::TaskHandle<void> failing = presentAlert(
            presenter, &window,
            warningAlert(QStringLiteral("Transfer Failed"),
                         QStringLiteral("The iOS device was disconnected during the transfer.")));
        QPointer<AlertDialog> failed;
        QTRY_VERIFY((failed = visibleAlertBesides(window, question)) && place(failed) >= 0);
        QTRY_VERIFY2(hasKeyboard(failed), "the failure's alert did not get the keyboard");
        if (clicked != Clicked::nothing)
            QVERIFY(activateAsAClickDoes(clicked == Clicked::window ? &window : question.data()));
        QVERIFY2(hasKeyboard(failed), "a click beneath took the keyboard from the failure's alert");
        QVERIFY2(place(failed) > place(question), "the failure's alert is underneath the question");

        QVERIFY(press(QStringLiteral("Return")));
        QTRY_VERIFY2(failing.isFinished(), "Return did not close the failure's alert");
        QTRY_VERIFY2(hasKeyboard(question), "the question did not get the keyboard back");
        QTRY_COMPARE(QApplication::focusWidget(), question->buttons().front());

        QVERIFY(press(keys));
        const bool answered = QTest::qWaitFor([&] { return asking.isReady(); });
        if (!answered && question)
            question->buttons().at(2)->click(); // ends the question before the test fails
        QVERIFY2(answered, "the question ignored the key");
        QCOMPARE(runSync(std::move(asking)), answer);
    }
};

QTEST_MAIN(tst_AlertStacking)
#include "tst_AlertStacking.moc"
