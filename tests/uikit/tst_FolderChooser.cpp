// The folder dialog: how it is set up, and what each way of closing it answers.

#include "platform/async/RunSync.h"
#include "platform/async/Task.h"
#include "platform/async/TaskHandle.h"
#include "uikit/FolderChooser.h"

#include <QApplication>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>

class tst_FolderChooser : public QObject {
    Q_OBJECT

private slots:
    void answers_data() {
        QTest::addColumn<QString>("how"); // "accept", "reject" or "parent gone"
        QTest::addColumn<bool>("chosen");
        QTest::addColumn<bool>("cancelled");
        QTest::newRow("accepted") << "accept" << true << false;
        QTest::newRow("cancelled by the user") << "reject" << false << false;
        QTest::newRow("window closed under it") << "parent gone" << false << true;
    }

    void answers() {
        QFETCH(QString, how);
        QFETCH(bool, chosen);
        QFETCH(bool, cancelled);
        QTemporaryDir folder;
        auto* window = new QWidget;
        window->show();
        DialogFolderChooser chooser;
        std::optional<URL> answer;
        bool wasCancelled = false;
        auto handle = async::spawn([&](std::stop_token token) -> async::Task<void> {
            FolderChooser::Request request;
            request.prompt = QStringLiteral("Copy Here");
            request.message = QStringLiteral("Choose a folder");
            try {
                answer = co_await chooser.choose(request, window, token);
            } catch (const async::CancelledError&) {
                wasCancelled = true;
            }
        });
        QFileDialog* dialog = nullptr;
        QTRY_VERIFY((dialog = window->findChild<QFileDialog*>()));
        QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
        QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly));
        QVERIFY(dialog->testOption(QFileDialog::DontUseNativeDialog));
        QCOMPARE(dialog->labelText(QFileDialog::Accept), QStringLiteral("Copy Here"));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Choose a folder"));
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QVERIFY(dialog->isVisible());

        if (how == u"accept") {
            dialog->setDirectory(folder.path());
            dialog->selectFile(folder.path());
            static_cast<QDialog*>(dialog)->accept();
        } else if (how == u"reject") {
            dialog->reject();
        } else {
            delete window;
            window = nullptr;
        }
        QTRY_VERIFY(handle.isFinished());
        QCOMPARE(wasCancelled, cancelled);
        QCOMPARE(answer.has_value(), chosen);
        if (chosen)
            QCOMPARE(QDir(answer->toLocalFile()).canonicalPath(), QDir(folder.path()).canonicalPath());
        delete window;
    }

    // Without a message the prompt titles the dialog, and it opens in the folder it is given.
    void startFolderAndTitle() {
        QTemporaryDir folder;
        QWidget window;
        window.show();
        DialogFolderChooser chooser;
        auto handle = async::spawn([&](std::stop_token token) -> async::Task<void> {
            FolderChooser::Request request;
            request.prompt = QStringLiteral("Select");
            request.directory = URL::fileURL(folder.path(), true);
            co_await chooser.choose(request, &window, token);
        });
        QFileDialog* dialog = nullptr;
        QTRY_VERIFY((dialog = window.findChild<QFileDialog*>()));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Select"));
        QCOMPARE(dialog->directory().canonicalPath(), QDir(folder.path()).canonicalPath());
        dialog->reject();
        QTRY_VERIFY(handle.isFinished());
    }
};

QTEST_MAIN(tst_FolderChooser)
#include "tst_FolderChooser.moc"
