// The preview pane over a scripted thumbnail source and a manual clock: which view shows, the
// facts of one item and of several, when the generic icon and the thumbnail appear, and that a
// newer view is never overwritten by an older answer.

#include "TemporaryDefaults.h"
#include "platform/ByteCountFormatter.h"
#include "platform/DateFormat.h"
#include "platform/ManualUiTimerSource.h"
#include "platform/async/Continuation.h"
#include "services/NavigationState.h"
#include "services/PreferencesViewController.h"
#include "sidebar/PreviewPaneViewController.h"
#include "uikit/Symbols.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
using IconState = PreviewPaneViewController::IconState;

namespace {

// Thumbnail requests that wait until the test answers them. Only the list holds the
// continuations, so that dropping it ends the requests still waiting.
struct ScriptedThumbnails {
    QList<async::Continuation<QImage>> requests;

    async::Task<QImage> request(FileItem) {
        auto park = [this](async::Continuation<QImage> continuation) {
            requests.append(continuation);
        };
        QImage image = co_await async::withContinuation<QImage>(park);
        co_return image;
    }
    void answer(int index, const QImage& image) {
        requests[index].resume(image);
        QCoreApplication::processEvents(); // the waiter resumes on a later turn
        QCoreApplication::processEvents();
    }
};

FileItem fileItem(const QString& name, FileKind kind, quint64 size = 1000, QString mime = {}) {
    const bool folder = kind == FileKind::folder;
    const URL url = URL::fileURL(QStringLiteral("/srv/") + name, folder);
    return FileItem(url.absoluteString(), name, url, folder, size, Date(800'000'000.0), kind,
                    mime.isEmpty() ? std::nullopt : UniformType::fromIdentifier(mime));
}

iOSDevice device(const QString& name, std::optional<int> battery = 85) {
    const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");
    return iOSDevice(udid, udid, name, QStringLiteral("iPhone 15"), QStringLiteral("iPhone15,4"),
                     QStringLiteral("17.2"), battery, true, true);
}

QImage picture() {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::red);
    return image;
}

} // namespace

class tst_PreviewPaneViewController : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void deviceCard_data();
    void deviceCard();
    void oneItem_data();
    void oneItem();
    void thumbnailTiming_data();
    void thumbnailTiming();
    void newerViewDropsOlderThumbnail_data();
    void newerViewDropsOlderThumbnail();
    void withoutAThemeIconTheSymbolOfOneItem_data();
    void withoutAThemeIconTheSymbolOfOneItem();
    void dateShowsWholeAtAnyWidth_data();
    void dateShowsWholeAtAnyWidth();
    void modifiedShowsOnlyWithADate();

private:
    void show(const QSet<FileItem>& items, std::optional<iOSDevice> current = std::nullopt) {
        m_navigation->currentDevice = current;
        m_navigation->selectedItems = items;
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    QStringList facts() const {
        return {m_pane->nameLabel()->text(), m_pane->kindLabel()->text(), m_pane->sizeLabel()->text(),
                m_pane->dateLabel()->text()};
    }
    // Which of the three views shows: "item", "device" or "hint".
    QString shownView() const {
        QStringList shown;
        if (m_pane->outerStack()->isVisible())
            shown << QStringLiteral("item");
        if (m_pane->deviceInfoStack()->isVisible())
            shown << QStringLiteral("device");
        if (m_pane->emptyLabel()->isVisible())
            shown << QStringLiteral("hint");
        return shown.join(QLatin1Char('+'));
    }

    QTemporaryDir m_home;
    std::unique_ptr<TemporaryDefaults> m_defaults;
    std::unique_ptr<NavigationState> m_navigation;
    std::unique_ptr<ManualUiTimerSource> m_timers;
    std::unique_ptr<ScriptedThumbnails> m_thumbnails;
    std::unique_ptr<PreviewPaneViewController> m_pane;
};

void tst_PreviewPaneViewController::initTestCase() {
    UserDefaults::setStandardFilePathForTesting(m_home.filePath(QStringLiteral("defaults.plist")));
    // No icon theme at all, wherever the tests run: the pane's own symbols are what shows.
    QIcon::setThemeSearchPaths({});
}

void tst_PreviewPaneViewController::init() {
    PreferencesViewController::defaults().remove(PreferencesViewController::enableThumbnailsKey);
    m_defaults = std::make_unique<TemporaryDefaults>();
    m_navigation = std::make_unique<NavigationState>(m_defaults->store());
    m_timers = std::make_unique<ManualUiTimerSource>();
    m_thumbnails = std::make_unique<ScriptedThumbnails>();
    auto* thumbnails = m_thumbnails.get();
    m_pane = std::make_unique<PreviewPaneViewController>(
        *m_navigation, nullptr, *m_timers,
        [thumbnails](FileItem item, AFCBridge*) { return thumbnails->request(std::move(item)); });
    m_pane->show();
    show({});
}

void tst_PreviewPaneViewController::cleanup() {
    m_pane.reset();
    m_thumbnails.reset(); // unanswered requests end with their continuations, a few turns later
    for (int turn = 0; turn < 5; ++turn)
        QCoreApplication::processEvents();
    m_timers.reset();
    m_navigation.reset();
    m_defaults.reset();
}

void tst_PreviewPaneViewController::deviceCard_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<std::optional<int>>("battery");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("batteryText");

    QTest::newRow("named") << "Studio iPhone" << std::optional<int>(85) << "Studio iPhone"
                           << "85%";
    QTest::newRow("no name") << "" << std::optional<int>(5) << "iPhone 15"
                             << "5%";
    QTest::newRow("no battery level") << "Studio iPhone" << std::optional<int>() << "Studio iPhone"
                                      << "Unknown";
    QTest::newRow("unreadable level") << "Studio iPhone" << std::optional<int>(-1) << "Studio iPhone"
                                      << "-1%";
}

void tst_PreviewPaneViewController::deviceCard() {
    QFETCH(QString, name);
    QFETCH(std::optional<int>, battery);
    QFETCH(QString, title);
    QFETCH(QString, batteryText);

    const iOSDevice shown = device(name, battery);
    show({}, shown);
    QCOMPARE(shownView(), QStringLiteral("device"));
    const QStringList texts{m_pane->deviceNameLabel()->text(), m_pane->deviceModelLabel()->text(),
                            m_pane->deviceIOSLabel()->text(),  m_pane->deviceBatteryLabel()->text(),
                            m_pane->deviceUDIDLabel()->text(), m_pane->deviceUDIDLabel()->toolTip()};
    QCOMPARE(texts,
             (QStringList{title, "iPhone 15 (iPhone15,4)", "17.2", batteryText, shown.udid(), shown.udid()}));

    // A selection beats the device; with neither, only the hint is left.
    show({fileItem(QStringLiteral("a.txt"), FileKind::document)}, shown);
    QCOMPARE(shownView(), QStringLiteral("item"));
    show({});
    QCOMPARE(shownView(), QStringLiteral("hint"));
    QCOMPARE(m_pane->emptyLabel()->text(), QStringLiteral("Select a file to see info"));
    QCOMPARE(m_pane->nameLabel()->text(), QString());
    QVERIFY(m_pane->iconView()->pixmap().isNull());
}

void tst_PreviewPaneViewController::oneItem_data() {
    QTest::addColumn<bool>("thumbnails");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("mime");
    QTest::addColumn<QString>("kindText");
    QTest::addColumn<QString>("sizeText");
    QTest::addColumn<int>("requests");

    QTest::newRow("folder without a type") << true << int(FileKind::folder) << ""
                                           << "Folder"
                                           << "—" << 0;
    QTest::newRow("image, thumbnails off") << false << int(FileKind::image) << "image/jpeg"
                                           << "JPEG image"
                                           << "2 KB" << 0;
    QTest::newRow("no known type") << true << int(FileKind::archive) << ""
                                   << "Archive"
                                   << "2 KB" << 0;
    QTest::newRow("image") << true << int(FileKind::image) << "image/jpeg"
                           << "JPEG image"
                           << "2 KB" << 1;
}

void tst_PreviewPaneViewController::oneItem() {
    QFETCH(bool, thumbnails);
    QFETCH(int, kind);
    QFETCH(QString, mime);
    QFETCH(QString, kindText);
    QFETCH(QString, sizeText);
    QFETCH(int, requests);

    PreferencesViewController::defaults().set(PreferencesViewController::enableThumbnailsKey, thumbnails);
    const FileItem item = fileItem(QStringLiteral("IMG_0001.JPG"), FileKind::Value(kind), 1500, mime);
    show({item});
    QCOMPARE(facts(),
             (QStringList{"IMG_0001.JPG", kindText, sizeText, DateFormat::mediumShort(item.modifiedDate())}));
    QCOMPARE(m_thumbnails->requests.size(), requests);
    // Without a request the type's icon shows at once; with one the area waits.
    QCOMPARE(m_pane->iconState(), requests ? IconState::empty : IconState::typeIcon);
    if (!requests)
        QCOMPARE(m_pane->iconName(), PreviewPaneViewController::typeIconNames(item).first());
}

void tst_PreviewPaneViewController::thumbnailTiming_data() {
    QTest::addColumn<int>("answerAfterMs");
    QTest::addColumn<bool>("hasThumbnail");
    QTest::addColumn<QList<int>>("states"); // just before the answer, after it, at 5 s

    const int empty = int(IconState::empty), generic = int(IconState::typeIcon),
              thumb = int(IconState::thumbnail);
    QTest::newRow("quick thumbnail") << 400 << true << QList<int>{empty, thumb, thumb};
    QTest::newRow("slow thumbnail") << 3000 << true << QList<int>{generic, thumb, thumb};
    QTest::newRow("no thumbnail") << 200 << false << QList<int>{empty, generic, generic};
}

void tst_PreviewPaneViewController::thumbnailTiming() {
    QFETCH(int, answerAfterMs);
    QFETCH(bool, hasThumbnail);
    QFETCH(QList<int>, states);

    show({fileItem(QStringLiteral("IMG_0002.HEIC"), FileKind::image, 2000, QStringLiteral("image/heic"))});
    QList<int> seen;
    QList<int> history; // every 100 ms
    const auto runUntil = [&](int ms) {
        while (history.size() * 100 < ms) {
            m_timers->advance(100ms);
            history << int(m_pane->iconState());
        }
    };
    runUntil(answerAfterMs - 100);
    seen << int(m_pane->iconState());
    runUntil(answerAfterMs);
    m_thumbnails->answer(0, hasThumbnail ? picture() : QImage());
    seen << int(m_pane->iconState());
    runUntil(5000);
    seen << int(m_pane->iconState());
    QCOMPARE(seen, states);
    // The generic icon comes at 1 s exactly, and only for a late thumbnail.
    if (hasThumbnail)
        QCOMPARE(history.indexOf(int(IconState::typeIcon)), answerAfterMs > 1000 ? 9 : -1);
    QCOMPARE(m_timers->pendingCount(), 0);
}

void tst_PreviewPaneViewController::newerViewDropsOlderThumbnail_data() {
    QTest::addColumn<QString>("then");
    QTest::addColumn<QString>("view");

    QTest::newRow("several items") << "several"
                                   << "item";
    QTest::newRow("the device") << "device"
                                << "device";
    QTest::newRow("another image") << "image"
                                   << "item";
}

void tst_PreviewPaneViewController::newerViewDropsOlderThumbnail() {
    QFETCH(QString, then);
    QFETCH(QString, view);

    show({fileItem(QStringLiteral("old.jpg"), FileKind::image, 2000, QStringLiteral("image/jpeg"))});
    QSet<FileItem> next;
    if (then == QStringLiteral("several"))
        next = {fileItem(QStringLiteral("a.txt"), FileKind::document, 1000),
                fileItem(QStringLiteral("b"), FileKind::folder, 2000)};
    else if (then == QStringLiteral("image"))
        next = {fileItem(QStringLiteral("new.jpg"), FileKind::image, 2000, QStringLiteral("image/jpeg"))};
    show(next,
         then == QStringLiteral("device") ? std::optional(device(QStringLiteral("Phone"))) : std::nullopt);
    const IconState before = m_pane->iconState();
    const QString nameBefore = m_pane->iconName();
    if (then == QStringLiteral("several")) {
        // Folders count with their stored size.
        QCOMPARE(facts(), (QStringList{"2 items", "Multiple", ByteCountFormatter::file(3000), ""}));
        QCOMPARE(nameBefore, QStringLiteral("doc.on.doc"));
    }

    // The old answer and the old fallback both come too late to matter.
    m_thumbnails->answer(0, picture());
    m_timers->advance(500ms);
    QCOMPARE(shownView(), view);
    QCOMPARE(m_pane->iconState(), before);
    QCOMPARE(m_pane->iconName(), nameBefore);
    if (then == QStringLiteral("image")) {
        m_thumbnails->answer(int(m_thumbnails->requests.size()) - 1, picture());
        QCOMPARE(m_pane->iconState(), IconState::thumbnail);
    }
    m_timers->advance(2s);
    QCOMPARE(m_pane->iconState(), then == QStringLiteral("image") ? IconState::thumbnail : before);
}


void tst_PreviewPaneViewController::withoutAThemeIconTheSymbolOfOneItem_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("mime");
    QTest::addColumn<QString>("symbol");
    QTest::newRow("folder") << int(FileKind::folder) << "" << "folder";
    QTest::newRow("file of a known type") << int(FileKind::document) << "text/plain" << "doc";
    QTest::newRow("file of no known type") << int(FileKind::archive) << "" << "doc";
}

// One item never shows the symbol of several.
void tst_PreviewPaneViewController::withoutAThemeIconTheSymbolOfOneItem() {
    QFETCH(int, kind);
    QFETCH(QString, mime);
    PreferencesViewController::defaults().set(PreferencesViewController::enableThumbnailsKey, false);
    show({fileItem(QStringLiteral("notes"), FileKind::Value(kind), 10, mime)});
    QCOMPARE(m_pane->iconState(), IconState::typeIcon);
    QTEST(m_pane->iconView()->property(Symbols::symbolNameProperty).toString(), "symbol");
    QVERIFY(!m_pane->iconView()->pixmap().isNull());
}

void tst_PreviewPaneViewController::dateShowsWholeAtAnyWidth_data() {
    QTest::addColumn<int>("paneWidth");
    QTest::addColumn<bool>("oneLine");
    // The narrowest the window lets the pane get, and the width it starts at.
    QTest::newRow("narrowest") << 160 << false;
    QTest::newRow("first width") << 240 << true;
}

// "May 30, 2024 at 2:29 PM" keeps its time wherever the pane is narrow: it takes a second line
// rather than end in an ellipsis, and on one line it is whole.
void tst_PreviewPaneViewController::dateShowsWholeAtAnyWidth() {
    QFETCH(int, paneWidth);
    QFETCH(bool, oneLine);
    const URL url = URL::fileURL(QStringLiteral("/srv/IMG_0001.JPG"), false);
    const FileItem item(url.absoluteString(), url.lastPathComponent(), url, false, 2000,
                        Date::fromQDateTime(QDateTime(QDate(2024, 5, 30), QTime(14, 29))), FileKind::document,
                        std::nullopt);
    m_pane->resize(paneWidth, 500);
    show({item});
    QVERIFY(QTest::qWaitForWindowExposed(m_pane.get()));
    QLabel* date = m_pane->dateLabel();
    QCOMPARE(date->text(), QStringLiteral("May 30, 2024 at 2:29\u202FPM"));
    const QRect inPane(date->mapTo(m_pane.get(), QPoint(0, 0)), date->size());
    QVERIFY(m_pane->rect().contains(inPane));
    const int textWidth = date->fontMetrics().horizontalAdvance(date->text());
    QVERIFY2(date->wordWrap() ? date->height() >= date->heightForWidth(date->width())
                              : date->width() >= textWidth,
             qPrintable(QStringLiteral("%1 px for %2").arg(date->width()).arg(textWidth)));
    QCOMPARE(date->width() >= textWidth, oneLine);
}

// Several items have no one date: their "Modified:" row goes, title and all, and comes back with
// the next single item.
void tst_PreviewPaneViewController::modifiedShowsOnlyWithADate() {
    const FileItem one = fileItem(QStringLiteral("a.txt"), FileKind::document, 1000);
    QLabel* date = m_pane->dateLabel();
    const auto modifiedTitles = [this] {
        int shown = 0;
        for (QLabel* label : m_pane->outerStack()->findChildren<QLabel*>())
            shown += label->text() == QStringLiteral("Modified:") && label->isVisible();
        return shown;
    };
    show({one});
    QCOMPARE(date->text(), DateFormat::mediumShort(one.modifiedDate()));
    QVERIFY(date->isVisible());
    QCOMPARE(modifiedTitles(), 1);

    show({one, fileItem(QStringLiteral("b"), FileKind::folder, 2000)});
    QCOMPARE(m_pane->kindLabel()->text(), QStringLiteral("Multiple"));
    QVERIFY(!date->isVisible());
    QCOMPARE(modifiedTitles(), 0);

    show({one});
    QVERIFY(date->isVisible());
    QCOMPARE(modifiedTitles(), 1);
}

QTEST_MAIN(tst_PreviewPaneViewController)
#include "tst_PreviewPaneViewController.moc"
