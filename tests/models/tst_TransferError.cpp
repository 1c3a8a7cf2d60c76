#include "models/TransferError.h"

#include <QTest>

Q_DECLARE_METATYPE(TransferError)

class tst_TransferError : public QObject {
    Q_OBJECT

private slots:
    // What an error carries reaches the alert; the fixed sentences of the other cases are not
    // restated here.
    void alertText_data() {
        QTest::addColumn<TransferError>("error");
        QTest::addColumn<QString>("text");

        QTest::newRow("io error quotes the current file")
            << TransferError::ioError(QStringLiteral("Input/output error"))
            << "An error occurred copying \"IMG_0001.JPG\": Input/output error";
        QTest::newRow("file not found")
            << TransferError::fileNotFound(QStringLiteral("/DCIM/a.jpg")) << "File not found: /DCIM/a.jpg";
    }

    void alertText() {
        QFETCH(TransferError, error);
        QFETCH(QString, text);
        QCOMPARE(transferFailedAlertText(error, QStringLiteral("IMG_0001.JPG")), text);
    }

    // The description is what the history stores, so its escaping must be exact.
    void description_data() {
        QTest::addColumn<TransferError>("error");
        QTest::addColumn<QString>("text");

        QTest::newRow("no payload") << TransferError::deviceDisconnected() << "deviceDisconnected";
        QTest::newRow("quotes and backslashes")
            << TransferError::fileNotFound(QStringLiteral("say \"hi\" C:\\x"))
            << "fileNotFound(\"say \\\"hi\\\" C:\\\\x\")";
        QTest::newRow("line breaks and tabs")
            << TransferError::ioError(QStringLiteral("a\nb\rc\td")) << "ioError(\"a\\nb\\rc\\td\")";
        QTest::newRow("other controls")
            << TransferError::ioError(QString::fromUtf8("bell\x07")) << "ioError(\"bell\\u{7}\")";
        QTest::newRow("non-ASCII as is") << TransferError::ioError(QStringLiteral(u"Fehler bei Ärger"))
                                         << QStringLiteral(u"ioError(\"Fehler bei Ärger\")");
        QTest::newRow("placeholders stay text")
            << TransferError::ioError(QStringLiteral("%1 %2")) << "ioError(\"%1 %2\")";
    }

    void description() {
        QFETCH(TransferError, error);
        QFETCH(QString, text);
        QCOMPARE(error.description(), text);
        QCOMPARE(QString::fromUtf8(error.what()), text);
    }
};

QTEST_GUILESS_MAIN(tst_TransferError)
#include "tst_TransferError.moc"
