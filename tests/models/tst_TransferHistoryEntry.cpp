#include "models/JsonDecodingError.h"
#include "models/TransferHistoryEntry.h"

#include "LogCapture.h"

#include <QJsonDocument>
#include <QTest>

#include <functional>

namespace {

const QUuid transferId = QUuid::fromString(QStringLiteral("{6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e5f}"));

FileItem photo() {
    const URL url = *URL::fromString(QStringLiteral("afc://00008110-001A/DCIM/100APPLE/IMG%200001.JPG"));
    return FileItem(url.absoluteString(), QStringLiteral("IMG 0001.JPG"), url, false, 3'000'000,
                    Date(700000000.125), FileKind::image,
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
    transfer.sources = {photo(), folder()};
    transfer.destination = URL::fileURL(QStringLiteral("/home/me/Pictures"), true);
    transfer.state = TransferState::active;
    transfer.progress = TransferProgress{1000, 5000, QStringLiteral("IMG 0001.JPG"), 1, 4, 123.5};
    transfer.startedAt = Date(0);
    // Distinct counts, so that swapped keys cannot round-trip unnoticed.
    transfer.verificationSummary = TransferVerificationSummary{true, 3, 2, 1, 4};
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

using Mutation = std::function<void(QJsonObject&)>;

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

Mutation inObject(const char* key, Mutation change) {
    return [key, change](QJsonObject& json) {
        QJsonObject inner = json.value(QLatin1String(key)).toObject();
        change(inner);
        json.insert(QLatin1String(key), inner);
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

class tst_TransferHistoryEntry : public QObject {
    Q_OBJECT

private slots:
    void roundTrips_data() {
        QTest::addColumn<Transfer>("transfer");
        QTest::newRow("without optionals") << runningTransfer();
        QTest::newRow("with every optional") << failedTransfer();
    }

    void roundTrips() {
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

    void storesWhatARetryNeedsAndLeavesAbsentKeysOut() {
        const QJsonObject failed = encoded(failedTransfer());
        QCOMPARE(failed.value(QLatin1String("id")).toString(),
                 QStringLiteral("6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E5F"));
        QCOMPARE(failed.value(QLatin1String("totalBytes")).toInteger(), 5000); // planned, not the 1000 copied
        QCOMPARE(failed.value(QLatin1String("errorDescription")).toString(),
                 QStringLiteral("ioError(\"Disk error\")"));

        const QJsonObject json = encoded(runningTransfer());
        for (const char* key : {"completedAt", "errorDescription", "reportURLString"})
            QVERIFY2(!json.contains(QLatin1String(key)), key);
        const QJsonArray sources = json.value(QLatin1String("sources")).toArray();
        QCOMPARE(sources.at(0).toObject().value(QLatin1String("utiIdentifier")).toString(),
                 QStringLiteral("image/jpeg"));
        QVERIFY(!sources.at(1).toObject().contains(QLatin1String("utiIdentifier")));
    }

    void datesAreSecondsSinceTheReferenceDate_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("reference date") << 0.0 << QByteArray("\"startedAt\":0");
        QTest::newRow("fraction") << 786297600.123456 << QByteArray("\"startedAt\":786297600.123456");
        QTest::newRow("distant past")
            << Date::distantPast().secondsSinceReferenceDate() << QByteArray("\"startedAt\":-63114076800");
    }

    void datesAreSecondsSinceTheReferenceDate() {
        QFETCH(double, seconds);
        QFETCH(QByteArray, text);
        Transfer transfer = runningTransfer();
        transfer.startedAt = Date(seconds);
        const QByteArray stored = TransferHistoryEntry::encodeList({TransferHistoryEntry(transfer)});
        QVERIFY2(stored.contains(text), stored.constData());
        QCOMPARE(TransferHistoryEntry::decodeList(stored)->first().startedAt(), Date(seconds));
    }

    void rejectsMalformedEntries_data() {
        QTest::addColumn<Mutation>("mutation");

        QTest::newRow("summary lacks failedFiles")
            << inObject("verificationSummary", removeKey("failedFiles"));
        QTest::newRow("state running") << setKey("state", QStringLiteral("running"));
        QTest::newRow("id not a UUID") << setKey("id", QStringLiteral("not-a-uuid"));
        QTest::newRow("negative total") << setKey("totalBytes", -1);
        QTest::newRow("fractional file count") << setKey("filesCompleted", 1.5);
        QTest::newRow("required string null") << setKey("currentFile", QJsonValue::Null);
        QTest::newRow("optional of wrong type") << setKey("errorDescription", 42);
        QTest::newRow("source lacks its name") << inFirstSource(removeKey("name"));
    }

    void rejectsMalformedEntries() {
        QFETCH(Mutation, mutation);
        QJsonObject json = encoded(failedTransfer());
        mutation(json);
        QVERIFY_THROWS_EXCEPTION(JsonDecodingError, TransferHistoryEntry::fromJson(json));
    }

    void acceptsLenientForms_data() {
        QTest::addColumn<Mutation>("mutation");
        QTest::addColumn<Transfer>("meaning");

        Transfer withoutReport = failedTransfer();
        withoutReport.reportURL.reset();
        QTest::newRow("null report URL means none")
            << setKey("reportURLString", QJsonValue::Null) << withoutReport;
        QTest::newRow("lower-case UUID")
            << setKey("id", QStringLiteral("6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e5f")) << failedTransfer();
        QTest::newRow("unknown keys ignored") << setKey("futureField", true) << failedTransfer();
        QTest::newRow("integral file size written as 3e6")
            << inFirstSource(setKey("size", 3e6)) << failedTransfer();
    }

    void acceptsLenientForms() {
        QFETCH(Mutation, mutation);
        QFETCH(Transfer, meaning);
        QJsonObject json = encoded(failedTransfer());
        mutation(json);
        QVERIFY(TransferHistoryEntry::fromJson(json) == TransferHistoryEntry(meaning));
    }

    void listKeepsReadableEntries() {
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
        const QStringList logged = capture.messages(LogCapture::category(QStringLiteral("transfer")));
        QCOMPARE(logged.size(), 2);
        QVERIFY2(logged.at(0).contains(QLatin1String("running")), qPrintable(logged.at(0)));
    }

    void listOfSomethingElseIsNothing() {
        QVERIFY(!TransferHistoryEntry::decodeList(QByteArray("{\"id\":1}")));
        QVERIFY(!TransferHistoryEntry::decodeList(QByteArray("[{")));
        QCOMPARE(TransferHistoryEntry::decodeList(QByteArray("[]")),
                 std::optional<QList<TransferHistoryEntry>>(QList<TransferHistoryEntry>()));
    }
};

QTEST_GUILESS_MAIN(tst_TransferHistoryEntry)
#include "tst_TransferHistoryEntry.moc"
