#include "services/FavoritesManager.h"

#include "LogCapture.h"
#include "TemporaryDefaults.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

const QString key = QStringLiteral("OrvantaFavorites");

// A favourite as stored, with one member changed, or removed when no value is given.
QJsonObject entry(const QString& name, const QString& member = {},
                  const QJsonValue& value = QJsonValue::Undefined) {
    QJsonObject json{{"id", QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
                     {"name", name},
                     {"urlString", "file:///" + name},
                     {"symbolName", "folder.fill"}};
    if (value.isUndefined())
        json.remove(member);
    else
        json.insert(member, value);
    return json;
}

QStringList namesOf(const FavoritesManager& manager) {
    QStringList names;
    for (const FavoriteItem& item : manager.favorites.value())
        names.append(item.name);
    return names;
}

} // namespace

class tst_FavoritesManager : public QObject {
    Q_OBJECT

private slots:
    void roundTrip() {
        TemporaryDefaults defaults;
        const URL camera = *URL::fromString(QStringLiteral("afc://00008110-ABC/DCIM/Caf%C3%A9%20100"));
        {
            FavoritesManager manager(key, defaults.store());
            manager.add("Home", URL::fileURL("/home/u"), "folder.fill");
            manager.add("Camera", camera, "folder.fill");
            manager.add("Home/", URL::fileURL("/home/u", true), "folder.fill");
            manager.add("Renamed", camera, "star"); // a favourite already: nothing changes
            // The sidebar's remove command.
            QList<FavoriteItem> kept = manager.favorites.value();
            kept.removeFirst();
            manager.favorites = kept;
            manager.save();
        }
        FavoritesManager relaunched(key, defaults.reopen());
        QCOMPARE(namesOf(relaunched), (QStringList{"Camera", "Home/"}));
        QCOMPARE(relaunched.favorites.value().first().urlString, camera.absoluteString());
        const QJsonDocument stored = QJsonDocument::fromJson(*defaults.store().dataForKey(key));
        QCOMPARE(stored[0].toObject().keys(), (QStringList{"id", "name", "symbolName", "urlString"}));
    }

    // A damaged entry costs only itself; a value that is no list costs the list until the next
    // addition replaces it. Ids are written upper-case whatever case they were read in.
    void unreadableStoredFavourites_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QStringList>("loaded");
        QTest::addColumn<int>("complaints");

        const QJsonArray damaged{
            entry("a"), entry("x", "symbolName"), entry("y", "id", "{bad}"), entry("z", "name", 7), "w",
            entry("b")};
        const QJsonArray lenient{entry("a", "id", QUuid::createUuid().toString(QUuid::WithoutBraces)),
                                 entry("b", "extra", true)};
        QTest::newRow("damaged entries") << QJsonDocument(damaged).toJson() << QStringList{"a", "b"} << 4;
        QTest::newRow("lower-case id, unknown member")
            << QJsonDocument(lenient).toJson() << QStringList{"a", "b"} << 0;
        QTest::newRow("not a list") << QByteArray(R"({"id":1})") << QStringList() << 1;
    }

    void unreadableStoredFavourites() {
        QFETCH(QByteArray, value);
        QFETCH(QStringList, loaded);
        QFETCH(int, complaints);
        TemporaryDefaults defaults;
        defaults.store().set(key, value);
        LogCapture capture;
        FavoritesManager manager(key, defaults.store());
        QCOMPARE(namesOf(manager), loaded);
        QCOMPARE(capture.messages(LogCapture::category("ui")).size(), complaints);

        manager.add("new", URL::fileURL("/new"), "folder.fill");
        QCOMPARE(namesOf(FavoritesManager(key, defaults.store())), loaded + QStringList{"new"});
        for (const QJsonValue& item : QJsonDocument::fromJson(*defaults.store().dataForKey(key)).array())
            QCOMPARE(item["id"].toString(), item["id"].toString().toUpper());
    }
};

QTEST_GUILESS_MAIN(tst_FavoritesManager)
#include "tst_FavoritesManager.moc"
