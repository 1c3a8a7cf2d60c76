// The Preferences window: what it shows from the settings, and that every change it writes is
// what the services then read.

#include "LogCapture.h"
#include "app/PreferencesPane.h"
#include "app/PreferencesWindowController.h"
#include "platform/ArchivedURL.h"
#include "platform/UserDefaults.h"
#include "platform/async/Task.h"
#include "services/PreferencesViewController.h"
#include "uikit/FolderChooser.h"
#include "uikit/PathControl.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QStandardPaths>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr qint64 mebibyte = 1024 * 1024;

// Answers each request with the next scripted folder (nothing = the user cancelled) and records
// what it was asked.
class FakeFolderChooser : public FolderChooser {
public:
    QList<std::optional<URL>> answers;
    QList<Request> requests;
    async::Task<std::optional<URL>> choose(Request request, QWidget*, std::stop_token) override {
        requests.append(request);
        std::optional<URL> answer = answers.isEmpty() ? std::nullopt : answers.takeFirst();
        co_return answer;
    }
};

UserDefaults& store() {
    return PreferencesViewController::defaults();
}

} // namespace

class tst_PreferencesPane : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        UserDefaults::setStandardFilePathForTesting(m_home.filePath(QStringLiteral("defaults.plist")));
    }

    void init() {
        for (const QString& key : store().keys())
            store().remove(key);
        store().flush();
        m_chooser = std::make_shared<FakeFolderChooser>();
    }

    // An empty store: Downloads twice (the ingest folder follows the default), hidden files off,
    // thumbnails on, 8 MB, verification off, dates kept, auto-ingest off, both subfolders on.
    void defaultsFromAnEmptyStore() {
        PreferencesPane pane(m_chooser);
        const URL downloads = PreferencesViewController::defaultDestination();
        QCOMPARE(pane.defaultDestinationField->url(), std::optional<URL>(downloads));
        QCOMPARE(pane.autoIngestDestinationField->url(), std::optional<URL>(downloads));
        const QList<bool> boxes{
            pane.showHiddenFilesCheckbox->isChecked(), pane.enableThumbnailsCheckbox->isChecked(),
            pane.verifyTransfersCheckbox->isChecked(), pane.preserveTimestampsCheckbox->isChecked(),
            pane.autoIngestCheckbox->isChecked(),      pane.createDeviceFolderCheckbox->isChecked(),
            pane.createDateFolderCheckbox->isChecked()};
        QCOMPARE(boxes, (QList<bool>{false, true, false, true, false, true, true}));
        QCOMPARE(pane.chunkSizePopup->currentText(), QStringLiteral("8 MB"));
        QCOMPARE(pane.chunkSizePopup->count(), 7);
        // Showing the window writes nothing.
        QVERIFY(store().keys().isEmpty());
    }

    void checkboxesWriteThroughTheReaders_data() {
        QTest::addColumn<int>("box"); // index into checkboxes()
        const QStringList keys{"showHiddenFiles",
                               "enableThumbnails",
                               "verifyTransfers",
                               "preserveTimestamps",
                               "autoIngestEnabled",
                               "autoIngestIncludeDeviceFolder",
                               "autoIngestIncludeDateFolder"};
        for (int i = 0; i < keys.size(); ++i)
            QTest::newRow(qPrintable(keys[i])) << i;
    }

    // A click stores the box's new state under its key, and the services' reader gives it back;
    // clicking again gives back the other. Either subfolder box also writes the other one.
    void checkboxesWriteThroughTheReaders() {
        QFETCH(int, box);
        struct Box {
            QCheckBox* PreferencesPane::*field;
            bool (*reader)();
            QLatin1StringView key;
        };
        using P = PreferencesViewController;
        const QList<Box> boxes{
            {&PreferencesPane::showHiddenFilesCheckbox, P::showHiddenFiles, P::showHiddenFilesKey},
            {&PreferencesPane::enableThumbnailsCheckbox, P::enableThumbnails, P::enableThumbnailsKey},
            {&PreferencesPane::verifyTransfersCheckbox, P::verifyTransfers, P::verifyTransfersKey},
            {&PreferencesPane::preserveTimestampsCheckbox, P::preserveTimestamps, P::preserveTimestampsKey},
            {&PreferencesPane::autoIngestCheckbox, P::autoIngestEnabled, P::autoIngestEnabledKey},
            {&PreferencesPane::createDeviceFolderCheckbox, P::autoIngestIncludeDeviceFolder,
             P::autoIngestIncludeDeviceFolderKey},
            {&PreferencesPane::createDateFolderCheckbox, P::autoIngestIncludeDateFolder,
             P::autoIngestIncludeDateFolderKey},
        };
        PreferencesPane pane(m_chooser);
        const Box& tested = boxes[box];
        const bool before = tested.reader();
        for (bool expected : {!before, before}) {
            (pane.*tested.field)->click();
            QCOMPARE(tested.reader(), expected);
            QCOMPARE(store().object(tested.key), std::optional<QVariant>(QVariant(expected)));
        }
        QCOMPARE(store().keys().size(), box >= 5 ? 2 : 1);
    }

    void chunkSizes_data() {
        QTest::addColumn<QVariant>("stored"); // invalid: unset
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("pick"); // -1: the shown item is chosen again
        QTest::addColumn<QVariant>("storedAfter");
        QTest::addColumn<qint64>("engineUses");
        const QVariant unset;
        const auto mib = [](double n) {
            return QVariant(qint64(n * mebibyte));
        };
        QTest::newRow("unset, 8 MB picked stores it") << unset << "8 MB" << 2 << mib(8) << 8 * mebibyte;
        QTest::newRow("1 MB shown as stored, raised by the reader")
            << mib(1) << "1 MB" << -1 << mib(1) << 8 * mebibyte;
        QTest::newRow("128 MB picked") << mib(16) << "16 MB" << 6 << mib(128) << 128 * mebibyte;
        QTest::newRow("odd size shown as itself and kept")
            << mib(12.5) << "12.5 MB" << -1 << mib(12.5) << qint64(12.5 * mebibyte);
        QTest::newRow("odd size replaced by a pick") << mib(20) << "20 MB" << 3 << mib(16) << 16 * mebibyte;
        QTest::newRow("negative shows what is used")
            << QVariant(qint64(-5)) << "8 MB" << -1 << mib(8) << 8 * mebibyte;
        QTest::newRow("huge shows the cap") << mib(1 << 20) << "128 MB" << -1 << mib(128) << 128 * mebibyte;
    }

    // The popup shows what the copies will use; a pick stores the table's byte value, and
    // choosing the shown item again stores it, except an odd size's own item, which keeps it.
    void chunkSizes() {
        QFETCH(QVariant, stored);
        QFETCH(QString, shown);
        QFETCH(int, pick);
        QFETCH(QVariant, storedAfter);
        QFETCH(qint64, engineUses);
        const QString key(PreferencesViewController::chunkSizeKey);
        if (stored.isValid())
            store().set(key, stored);
        PreferencesPane pane(m_chooser);
        QCOMPARE(pane.chunkSizePopup->currentText(), shown);
        const int index = pick >= 0 ? pick : pane.chunkSizePopup->currentIndex();
        pane.chunkSizePopup->setCurrentIndex(index);
        emit pane.chunkSizePopup->activated(index);
        QCOMPARE(store().object(key).value_or(QVariant()), storedAfter);
        QCOMPARE(PreferencesViewController::macChunkSize(), engineUses);
    }

    // At its fixed size (480 x 520, wider only where the font needs it) every label shows whole
    // on one line and every control lies inside the window.
    void everythingFitsTheFixedWindow() {
        PreferencesWindowController controller(m_chooser);
        QWidget* window = controller.window();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->height(), 520);
        QVERIFY(window->width() >= 480);
        QCOMPARE(window->minimumSize(), window->maximumSize());
        const QList<QWidget*> children = controller.contentViewController()->findChildren<QWidget*>();
        QVERIFY(!children.isEmpty());
        for (QWidget* child : children) {
            if (!child->isVisible())
                continue;
            const QRect inWindow(child->mapTo(window, QPoint(0, 0)), child->size());
            QVERIFY2(window->rect().contains(inWindow), qPrintable(child->metaObject()->className()));
            if (auto* label = qobject_cast<QLabel*>(child); label && label->wordWrap())
                QVERIFY2(label->height() >= label->heightForWidth(label->width()), qPrintable(label->text()));
            if (auto* label = qobject_cast<QLabel*>(child); label && label->text().endsWith(u':')) {
                QVERIFY2(!label->wordWrap(), qPrintable(label->text()));
                QVERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(label->text()),
                         qPrintable(label->text()));
            }
            if (auto* box = qobject_cast<QCheckBox*>(child))
                QVERIFY2(box->width() >= box->sizeHint().width(), qPrintable(box->text()));
        }
    }

    void folderChoices_data() {
        QTest::addColumn<bool>("ingest");    // which of the two path controls is clicked
        QTest::addColumn<QString>("answer"); // "folder", "cancel" or "unstorable"
        QTest::addColumn<bool>("changed");
        QTest::newRow("default destination chosen") << false << "folder" << true;
        QTest::newRow("ingest destination chosen") << true << "folder" << true;
        QTest::newRow("default destination cancelled") << false << "cancel" << false;
        QTest::newRow("ingest destination not storable") << true << "unstorable" << false;
    }

    // A chosen folder is stored and read back by the services; the other field shows what the
    // services read (the ingest folder follows the default while none was chosen). A cancel, or a
    // value that could not be stored, leaves the setting and the field as they were, and the
    // failure is logged.
    void folderChoices() {
        QFETCH(bool, ingest);
        QFETCH(QString, answer);
        QFETCH(bool, changed);
        QTemporaryDir chosenFolder;
        const URL chosen = URL::fileURL(chosenFolder.path(), true);
        const URL previous = PreferencesViewController::defaultDestination();
        if (answer == u"folder")
            m_chooser->answers.append(chosen);
        else if (answer == u"unstorable")
            m_chooser->answers.append(URL());
        else
            m_chooser->answers.append(std::nullopt);

        LogCapture log;
        PreferencesWindowController controller(m_chooser);
        PreferencesPane* pane = controller.contentViewController();
        PathControl* clicked = ingest ? pane->autoIngestDestinationField : pane->defaultDestinationField;
        PathControl* other = ingest ? pane->defaultDestinationField : pane->autoIngestDestinationField;
        const std::optional<URL> shownBefore = clicked->url();
        QTest::mouseClick(clicked, Qt::LeftButton);
        QTRY_COMPARE(m_chooser->requests.size(), 1);
        QCOMPARE(m_chooser->requests.first().prompt, QStringLiteral("Select"));
        // It opens at the folder the control shows, not in the program's working folder.
        QCOMPARE(m_chooser->requests.first().directory, shownBefore);
        QVERIFY(m_chooser->requests.first().message.isEmpty());
        QCoreApplication::processEvents();

        const URL expected = changed ? chosen : previous;
        QTRY_COMPARE(clicked->url(), std::optional<URL>(expected));
        QTRY_COMPARE(other->url(), std::optional<URL>(ingest ? previous : expected));
        QCOMPARE(ingest ? PreferencesViewController::autoIngestDestination()
                        : PreferencesViewController::defaultDestination(),
                 expected);
        if (!ingest) // the ingest folder follows the new default at its next reading
            QCOMPARE(PreferencesViewController::autoIngestDestination(), expected);
        QCOMPARE(log.messages(LogCapture::category("ui")).size(), answer == u"unstorable" ? 1 : 0);
    }

    void ingestFolderShownIsTheOneUsed_data() {
        QTest::addColumn<bool>("ingestChosen");    // an ingest folder of its own was chosen before
        QTest::addColumn<bool>("byOtherInstance"); // the default changes in another running instance
        QTest::newRow("none chosen, default chosen here") << false << false;
        QTest::newRow("none chosen, default changed by another instance") << false << true;
        QTest::newRow("one chosen, default chosen here") << true << false;
    }

    // The ingest field names the folder the photos will go to: while no ingest folder was chosen,
    // that is the default destination, also after it changed with the window open.
    void ingestFolderShownIsTheOneUsed() {
        QFETCH(bool, ingestChosen);
        QFETCH(bool, byOtherInstance);
        QTemporaryDir ingestFolder;
        QTemporaryDir newDefaultFolder;
        const URL ingest = URL::fileURL(ingestFolder.path(), true);
        const URL newDefault = URL::fileURL(newDefaultFolder.path(), true);
        if (ingestChosen)
            QVERIFY(PreferencesPane::setAutoIngestDestination(ingest));
        PreferencesWindowController controller(m_chooser);
        PreferencesPane* pane = controller.contentViewController();
        if (byOtherInstance) {
            UserDefaults other(store().filePath());
            other.set(QString(PreferencesViewController::defaultDestinationKey), archiveURL(newDefault));
            other.flush();
        } else {
            m_chooser->answers.append(newDefault);
            QTest::mouseClick(pane->defaultDestinationField, Qt::LeftButton);
        }
        QTRY_COMPARE(pane->defaultDestinationField->url(), std::optional<URL>(newDefault));
        const URL used = ingestChosen ? ingest : newDefault;
        QCOMPARE(PreferencesViewController::autoIngestDestination(), used);
        QTRY_COMPARE(pane->autoIngestDestinationField->url(), std::optional<URL>(used));
    }

    // Settings another running instance changes show in this window's controls as they change
    // there, and so does their reset to the default.
    void controlsFollowAnotherInstance() {
        PreferencesPane pane(m_chooser);
        using P = PreferencesViewController;
        const QVariantMap changes{{P::enableThumbnailsKey, false},
                                  {P::showHiddenFilesKey, true},
                                  {P::autoIngestIncludeDateFolderKey, false},
                                  {P::chunkSizeKey, qint64(12.5 * mebibyte)}};
        for (const bool reset : {false, true}) {
            UserDefaults other(store().filePath());
            for (auto it = changes.cbegin(); it != changes.cend(); ++it)
                other.set(it.key(), reset ? QVariant() : it.value());
            other.flush();
            QTRY_COMPARE(pane.enableThumbnailsCheckbox->isChecked(), reset);
            QTRY_COMPARE(pane.showHiddenFilesCheckbox->isChecked(), !reset);
            QTRY_COMPARE(pane.createDateFolderCheckbox->isChecked(), reset);
            QTRY_COMPARE(pane.chunkSizePopup->currentText(),
                         reset ? QStringLiteral("8 MB") : QStringLiteral("12.5 MB"));
            QCOMPARE(pane.chunkSizePopup->count(), reset ? 7 : 8);
            QVERIFY(pane.createDeviceFolderCheckbox->isChecked());
        }
    }

private:
    QTemporaryDir m_home;
    std::shared_ptr<FakeFolderChooser> m_chooser;
};

QTEST_MAIN(tst_PreferencesPane)
#include "tst_PreferencesPane.moc"
