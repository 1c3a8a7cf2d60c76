#include "app/AlertConflictPrompter.h"

#include "platform/async/RunSync.h"
#include "uikit/AlertDialog.h"
#include "uikit/AlertPresenter.h"

#include <QPushButton>

#include <QTest>
#include <QWidget>

using async::runSync;

namespace {

// Records each alert and answers from a script.
class ScriptedAlertPresenter : public AlertPresenter {
public:
    QList<AlertRequest> requests;
    QList<QWidget*> parents;
    AlertResponse next;

    async::Task<AlertResponse> ask(AlertRequest request, QWidget* parent, std::stop_token) override {
        requests.append(request);
        parents.append(parent);
        co_return next;
    }
};

} // namespace

Q_DECLARE_METATYPE(ConflictResolution)

// The name-clash question as the window's alert: its words, and which answer each way of closing
// it gives.
class tst_AlertConflictPrompter : public QObject {
    Q_OBJECT

private slots:
    void answers_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<ConflictResolution>("resolution");
        QTest::newRow("Replace") << 1000 << false << ConflictResolution::replace;
        QTest::newRow("Keep Both for all") << 1001 << true << ConflictResolution::keepBoth;
        QTest::newRow("Stop for all") << 1002 << true << ConflictResolution::stop;
        QTest::newRow("any other way of closing") << 0 << false << ConflictResolution::stop;
    }

    void answers() {
        QFETCH(int, code);
        QFETCH(bool, checked);
        QFETCH(ConflictResolution, resolution);
        QWidget window;
        auto presenter = std::make_shared<ScriptedAlertPresenter>();
        presenter->next = AlertResponse{code, checked, QString()};
        AlertConflictPrompter prompter(presenter, &window);

        const ConflictAnswer answer = runSync(prompter.ask(QStringLiteral("IMG_0001.JPG"), {}));

        QCOMPARE(answer, (ConflictAnswer{resolution, checked}));
        QCOMPARE(presenter->requests.size(), 1);
        const AlertRequest& request = presenter->requests.front();
        QCOMPARE(request.style, AlertRequest::Style::warning);
        QCOMPARE(request.message, QStringLiteral("\"IMG_0001.JPG\" already exists."));
        QCOMPARE(request.informative,
                 QStringLiteral("Do you want to replace it, keep both items, or stop this transfer?"));
        QCOMPARE(request.buttons, (QStringList{"Replace", "Keep Both", "Stop"}));
        QCOMPARE(request.checkBox,
                 std::optional<QString>(QStringLiteral("Apply to all conflicts in this transfer")));
        QCOMPARE(presenter->parents.front(), &window);
    }

    void keysOnTheDialog_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<ConflictResolution>("resolution");
        QTest::newRow("Return replaces") << int(Qt::Key_Return) << ConflictResolution::replace;
        QTest::newRow("Escape stops") << int(Qt::Key_Escape) << ConflictResolution::stop;
        QTest::newRow("the close button stops") << 0 << ConflictResolution::stop;
    }

    // On the real dialog: Return is the first button, and Escape (or closing the window) answers
    // as Stop does, the way Escape leaves every other question of the desktop.
    void keysOnTheDialog() {
        QFETCH(int, key);
        QFETCH(ConflictResolution, resolution);
        QWidget window;
        window.show();
        AlertConflictPrompter prompter(std::make_shared<DialogAlertPresenter>(), &window);
        async::Task<ConflictAnswer> asking = prompter.ask(QStringLiteral("IMG_0001.JPG"), {});
        AlertDialog* dialog = nullptr;
        for (int round = 0; round < 50 && !(dialog && dialog->isVisible()); ++round) {
            QCoreApplication::processEvents();
            dialog = window.findChild<AlertDialog*>();
        }
        QVERIFY(dialog && dialog->isVisible());
        // Focus on another button must not change what Return means.
        dialog->buttons().at(1)->setFocus();
        if (key == 0)
            dialog->close();
        else
            QTest::keyClick(dialog, Qt::Key(key));
        QCoreApplication::processEvents();
        QVERIFY(asking.isReady());
        QCOMPARE(runSync(std::move(asking)), (ConflictAnswer{resolution, false}));
    }
};

QTEST_MAIN(tst_AlertConflictPrompter)
#include "tst_AlertConflictPrompter.moc"
