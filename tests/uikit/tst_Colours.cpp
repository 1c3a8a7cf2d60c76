// Label colours must come from each colour group's own text colour: a label that copied the
// active colour into every group would look enabled while disabled, and vice versa.

#include "uikit/Colours.h"

#include <QApplication>
#include <QLabel>
#include <QtTest>

class tst_Colours : public QObject {
    Q_OBJECT

private slots:
    void labelColourFollowsEachGroup_data() {
        QTest::addColumn<Colours::Label>("level");
        QTest::addColumn<double>("alpha");
        QTest::newRow("primary") << Colours::Label::primary << 1.0;
        QTest::newRow("secondary") << Colours::Label::secondary << 0.55;
    }

    void labelColourFollowsEachGroup() {
        QFETCH(Colours::Label, level);
        QFETCH(double, alpha);
        QLabel label;
        QPalette palette = label.palette();
        palette.setColor(QPalette::Active, QPalette::WindowText, QColor(10, 20, 30));
        palette.setColor(QPalette::Inactive, QPalette::WindowText, QColor(40, 50, 60));
        palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120, 128));
        label.setPalette(palette);

        Colours::setLabelColour(&label, level);

        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            const QColor before = palette.color(group, QPalette::WindowText);
            const QColor after = label.palette().color(group, QPalette::WindowText);
            QCOMPARE(after.rgb(), before.rgb());
            QVERIFY2(qAbs(after.alphaF() - before.alphaF() * alpha) < 0.01,
                     qPrintable(QStringLiteral("group %1 alpha %2").arg(int(group)).arg(after.alphaF())));
        }
    }
};

QTEST_MAIN(tst_Colours)
#include "tst_Colours.moc"
