#include "platform/AsciiCharacters.h"

#include <QTest>

class tst_AsciiCharacters : public QObject {
    Q_OBJECT

private slots:
    // The neighbours of each range, and characters Unicode calls digits or letters that ASCII
    // grammars do not: an off-by-one or a QChar::isDigit stand-in fails a row.
    void classifies_data() {
        QTest::addColumn<int>("character");
        QTest::addColumn<QString>("classes"); // "d" digit, "l" letter, "x" hex digit

        const auto row = [](const char* tag, char16_t c, const char* classes) {
            QTest::newRow(tag) << int(c) << QString::fromLatin1(classes);
        };
        row("'/' before '0'", u'/', "");
        row("'0'", u'0', "dx");
        row("':' after '9'", u':', "");
        row("'@' before 'A'", u'@', "");
        row("'A'", u'A', "lx");
        row("'G' after 'F'", u'G', "l");
        row("'`' before 'a'", u'`', "");
        row("'g' after 'f'", u'g', "l");
        row("'{' after 'z'", u'{', "");
        row("full-width digit one", u'\uFF11', "");
        row("a Latin-1 byte read as a signed char", char16_t(static_cast<char>('\xB9')), "");
    }

    void classifies() {
        QFETCH(int, character);
        QFETCH(QString, classes);
        const auto c = static_cast<char16_t>(character);
        QCOMPARE(isAsciiDigit(c), classes.contains(u'd'));
        QCOMPARE(isAsciiLetter(c), classes.contains(u'l'));
        QCOMPARE(isHexDigit(c), classes.contains(u'x'));
    }
};

QTEST_GUILESS_MAIN(tst_AsciiCharacters)
#include "tst_AsciiCharacters.moc"
