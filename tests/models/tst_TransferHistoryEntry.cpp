#include "models/JsonDecodingError.h"
#include "models/TransferHistoryEntry.h"

#include "LogCapture.h"

#include <QJsonDocument>
#include <QSet>
#include <QTest>

#include <functional>

namespace {

const QUuid transferId = QUuid::fromString(QStringLiteral("{6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e5f}"));

FileItem photo(double modified) {
    const URL url = *URL::fromString(QStringLiteral("afc://00008110-001A/DCIM/100APPLE/IMG%200001.JPG"));
    return FileItem(url.absoluteString(), QStringLiteral("IMG 0001.JPG"), url, false, 3'000'000,
                    Date(modified), FileKind::image,
                    UniformType::forFilenameExtension(QStringLiteral("JPG")));
}

FileItem folder() {
    const URL url = *URL::fromString(QStringLiteral("afc://00008110-001A/DCIM/101APPLE/"));
    return FileItem(url.absoluteString(), QStringLiteral("101APPLE"), url, true, 0, Date(-5.5),
                    FileKind::folder, std::nullopt);
}

// A transfer still running: no end date, no error, no report.
Transfer runningTransfer() {
    Transfer transfer;
    transfer.id = transferId;
    transfer.sources = {photo(700000000.125), folder()};
    transfer.destination = URL::fileURL(QStringLiteral("/home/me/Pictures"), true);
    transfer.state = TransferState::active;
    transfer.progress = TransferProgress{1000, 5000, QStringLiteral("IMG 0001.JPG"), 1, 4, 123.5};
    transfer.startedAt = Date(0);
    transfer.verificationSummary = TransferVerificationSummary{true, 1, 0, 0, 0};
    return transfer;
}

Transfer failedTransfer() {
    Transfer transfer = runningTransfer();
    transfer.state = TransferState::failed;
    transfer.error = TransferError::ioError(QStringLiteral("Disk error"));
    transfer.completedAt = Date(12.75);
    transfer.reportURL = URL::fileURL(QStringLiteral("/home/me/.local/share/Orvanta/TransferReports/t.txt"));
    return transfer;
}

QJsonObject encoded(const Transfer& transfer) {
    return TransferHistoryEntry(transfer).toJson();
}

} // namespace

class tst_TransferHistoryEntry : public QObject {
    Q_OBJECT

private slots:
    void keepsWhatTheCenterShowsAndARetryNeeds();
    void roundTrips_data();
    void roundTrips();
    void absentOptionalsLeaveTheirKeysOut();
    void datesAreSecondsSinceTheReferenceDate_data();
    void datesAreSecondsSinceTheReferenceDate();
    void rejectsMalformedEntries_data();
    void rejectsMalformedEntries();
    void acceptsLenientForms_data();
    void acceptsLenientForms();
    void equalityCoversSourceDates();
    void listKeepsReadableEntries();
    void listOfSomethingElseIsNothing();
};

void tst_TransferHistoryEntry::keepsWhatTheCenterShowsAndARetryNeeds() {
    const TransferHistoryEntry entry(failedTransfer());
    QCOMPARE(entry.id(), transferId);
    QCOMPARE(entry.destinationURLString(), QStringLiteral("file:///home/me/Pictures/"));
    QCOMPARE(entry.totalBytes(), quint64(5000)); // the planned total, not the 1000 copied
    QCOMPARE(entry.errorDescription(), std::optional<QString>(QStringLiteral("ioError(\"Disk error\")")));
    QCOMPARE(entry.reportURLString(), std::optional<QString>(QStringLiteral(
                                          "file:///home/me/.local/share/Orvanta/TransferReports/t.txt")));
    QCOMPARE(entry.sources().size(), 2);
    const TransferHistorySource& source = entry.sources().first();
    QCOMPARE(source.urlString(), QStringLiteral("afc://00008110-001A/DCIM/100APPLE/IMG%200001.JPG"));
    QCOMPARE(source.kindRawValue(), QStringLiteral("image"));
    QCOMPARE(source.utiIdentifier(), std::optional<QString>(QStringLiteral("image/jpeg")));
    QCOMPARE(entry.sources().last().utiIdentifier(), std::nullopt);
}

void tst_TransferHistoryEntry::roundTrips_data() {
    QTest::addColumn<Transfer>("transfer");
    QTest::newRow("without optionals") << runningTransfer();
    QTest::newRow("with every optional") << failedTransfer();
}

void tst_TransferHistoryEntry::roundTrips() {
    QFETCH(Transfer, transfer);
    const TransferHistoryEntry entry(transfer);
    const QByteArray stored = TransferHistoryEntry::encodeList({entry});
    QVERIFY(!stored.contains('\n')); // compact
    const auto restored = TransferHistoryEntry::decodeList(stored);
    QVERIFY(restored);
    QCOMPARE(restored->size(), 1);
    QVERIFY(restored->first() == entry);
    QCOMPARE(qHash(restored->first()), qHash(entry));
}

void tst_TransferHistoryEntry::absentOptionalsLeaveTheirKeysOut() {
    const QJsonObject json = encoded(runningTransfer());
    for (const char* key : {"completedAt", "errorDescription", "reportURLString"})
        QVERIFY2(!json.contains(QLatin1String(key)), key);
    const QJsonArray sources = json.value(QLatin1String("sources")).toArray();
    QVERIFY(sources.at(0).toObject().contains(QLatin1String("utiIdentifier")));
    QVERIFY(!sources.at(1).toObject().contains(QLatin1String("utiIdentifier")));
    QCOMPARE(json.value(QLatin1String("id")).toString(),
             QStringLiteral("6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E5F"));
}

void tst_TransferHistoryEntry::datesAreSecondsSinceTheReferenceDate_data() {
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("reference date") << 0.0 << QByteArray("\"startedAt\":0");
    QTest::newRow("before it") << -86400.0 << QByteArray("\"startedAt\":-86400");
    QTest::newRow("fraction") << 786297600.123456 << QByteArray("\"startedAt\":786297600.123456");
    QTest::newRow("distant past") << Date::distantPast().secondsSinceReferenceDate()
                                  << QByteArray("\"startedAt\":-63114076800");
}

void tst_TransferHistoryEntry::datesAreSecondsSinceTheReferenceDate() {
    QFETCH(double, seconds);
    QFETCH(QByteArray, text);
    Transfer transfer = runningTransfer();
    transfer.startedAt = Date(seconds);
    const TransferHistoryEntry entry(transfer);
    const QByteArray stored = TransferHistoryEntry::encodeList({entry});
    QVERIFY2(stored.contains(text), stored.constData());
    QCOMPARE(TransferHistoryEntry::decodeList(stored)->first().startedAt(), Date(seconds));
}

using Mutation = std::function<void(QJsonObject&)>;

namespace {

Mutation setKey(const char* key, QJsonValue value) {
    return [key, value](QJsonObject& json) {
        json.insert(QLatin1String(key), value);
    };
}

Mutation removeKey(const char* key) {
    return [key](QJsonObject& json) {
        json.remove(QLatin1String(key));
    };
}

Mutation inSummary(Mutation change) {
    return [change](QJsonObject& json) {
        QJsonObject summary = json.value(QLatin1String("verificationSummary")).toObject();
        change(summary);
        json.insert(QLatin1String("verificationSummary"), summary);
    };
}

Mutation inFirstSource(Mutation change) {
    return [change](QJsonObject& json) {
        QJsonArray sources = json.value(QLatin1String("sources")).toArray();
        QJsonObject source = sources.at(0).toObject();
        change(source);
        sources.replace(0, source);
        json.insert(QLatin1String("sources"), sources);
    };
}

} // namespace

void tst_TransferHistoryEntry::rejectsMalformedEntries_data() {
    QTest::addColumn<Mutation>("mutation");

    QTest::newRow("summary lacks failedFiles") << inSummary(removeKey("failedFiles"));
    QTest::newRow("state running") << setKey("state", QStringLiteral("running"));
    QTest::newRow("id not a UUID") << setKey("id", QStringLiteral("not-a-uuid"));
    QTest::newRow("date as text") << setKey("startedAt", QStringLiteral("2024-01-01T00:00:00Z"));
    QTest::newRow("negative total") << setKey("totalBytes", -1);
    QTest::newRow("fractional file count") << setKey("filesCompleted", 1.5);
    QTest::newRow("required string null") << setKey("currentFile", QJsonValue::Null);
    QTest::newRow("optional of wrong type") << setKey("errorDescription", 42);
    QTest::newRow("sources not an array") << setKey("sources", QJsonObject());
    QTest::newRow("source lacks its name") << inFirstSource(removeKey("name"));
    QTest::newRow("source size as text") << inFirstSource(setKey("size", QStringLiteral("12")));
}

void tst_TransferHistoryEntry::rejectsMalformedEntries() {
    QFETCH(Mutation, mutation);
    QJsonObject json = encoded(failedTransfer());
    mutation(json);
    QVERIFY_THROWS_EXCEPTION(JsonDecodingError, TransferHistoryEntry::fromJson(json));
}

void tst_TransferHistoryEntry::acceptsLenientForms_data() {
    QTest::addColumn<Mutation>("mutation");
    QTest::addColumn<std::function<bool(const TransferHistoryEntry&)>>("check");

    QTest::newRow("null report URL means none")
        << setKey("reportURLString", QJsonValue::Null)
        << std::function<bool(const TransferHistoryEntry&)>(
               [](const TransferHistoryEntry& e) { return !e.reportURLString(); });
    QTest::newRow("lower-case UUID") << setKey("id", QStringLiteral("6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e5f"))
                                     << std::function<bool(const TransferHistoryEntry&)>(
                                            [](const TransferHistoryEntry& e) {
                                                return e.id() == transferId;
                                            });
    QTest::newRow("unknown keys ignored")
        << setKey("futureField", true)
        << std::function<bool(const TransferHistoryEntry&)>([](const TransferHistoryEntry&) { return true; });
    QTest::newRow("integral file size written as 3e6")
        << inFirstSource(setKey("size", 3e6))
        << std::function<bool(const TransferHistoryEntry&)>(
               [](const TransferHistoryEntry& e) { return e.sources().first().size() == 3'000'000; });
}

void tst_TransferHistoryEntry::acceptsLenientForms() {
    QFETCH(Mutation, mutation);
    QFETCH(std::function<bool(const TransferHistoryEntry&)>, check);
    QJsonObject json = encoded(failedTransfer());
    mutation(json);
    QVERIFY(check(TransferHistoryEntry::fromJson(json)));
}

void tst_TransferHistoryEntry::equalityCoversSourceDates() {
    Transfer other = failedTransfer();
    other.sources[0] = photo(700000000.5);
    QVERIFY(!(TransferHistoryEntry(other) == TransferHistoryEntry(failedTransfer())));
    QCOMPARE((QSet<TransferHistoryEntry>{TransferHistoryEntry(failedTransfer()),
                                         TransferHistoryEntry(failedTransfer())})
                 .size(),
             1);
}

void tst_TransferHistoryEntry::listKeepsReadableEntries() {
    // One damaged record must not cost the user the rest of the history.
    Transfer second = runningTransfer();
    second.id = QUuid::createUuid();
    QJsonObject broken = encoded(failedTransfer());
    broken.insert(QLatin1String("state"), QStringLiteral("running"));
    const QJsonArray array{encoded(failedTransfer()), broken, QStringLiteral("garbage"), encoded(second)};

    LogCapture capture;
    const auto entries =
        TransferHistoryEntry::decodeList(QJsonDocument(array).toJson(QJsonDocument::Compact));
    QVERIFY(entries);
    QCOMPARE(entries->size(), 2);
    QCOMPARE(entries->at(0).id(), transferId);
    QCOMPARE(entries->at(1).id(), second.id);
    const QStringList logged = capture.messages(QStringLiteral("io.halvorn.orvanta.transfer"));
    QCOMPARE(logged.size(), 2);
    QVERIFY2(logged.at(0).contains(QLatin1String("running")), qPrintable(logged.at(0)));
}

void tst_TransferHistoryEntry::listOfSomethingElseIsNothing() {
    QVERIFY(!TransferHistoryEntry::decodeList(QByteArray("{\"id\":1}")));
    QVERIFY(!TransferHistoryEntry::decodeList(QByteArray("[{")));
    QCOMPARE(TransferHistoryEntry::decodeList(QByteArray("[]")),
             std::optional<QList<TransferHistoryEntry>>(QList<TransferHistoryEntry>()));
}

QTEST_GUILESS_MAIN(tst_TransferHistoryEntry)
#include "tst_TransferHistoryEntry.moc"
