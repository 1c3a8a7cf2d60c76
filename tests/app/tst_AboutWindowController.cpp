// The About window: the version line however the build describes itself, and links that open
// the browser and leave the window where it is.

#include "ScriptedAlertPresenter.h"
#include "app/AboutWindowController.h"
#include "app/ProjectInfo.h"
#include "uikit/Workspace.h"

#include <QApplication>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QTest>

class tst_AboutWindowController : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_opened.clear();
        m_desktopOpens = true;
        Workspace::setOpenerForTesting([this](const URL& url) {
            m_opened.append(url.absoluteString());
            return m_desktopOpens;
        });
    }

    void versionText_data() {
        QTest::addColumn<QVariant>("shortVersion");
        QTest::addColumn<QVariant>("buildVersion");
        QTest::addColumn<QString>("text");
        QTest::newRow("both") << QVariant("1.4") << QVariant("27") << "Version 1.4 (27)";
        QTest::newRow("no build number") << QVariant("1.4") << QVariant() << "Version 1.4 (?)";
        QTest::newRow("neither") << QVariant() << QVariant() << "Version ? (?)";
        QTest::newRow("not text") << QVariant(14) << QVariant(QByteArray("27")) << "Version ? (?)";
    }

    void versionText() {
        QFETCH(QVariant, shortVersion);
        QFETCH(QVariant, buildVersion);
        QFETCH(QString, text);
        AboutWindowController controller({shortVersion, buildVersion});
        auto* label = controller.window()->findChild<QLabel*>(QStringLiteral("aboutVersion"));
        QVERIFY(label);
        QCOMPARE(label->text(), text);
    }

    // Each link opens its own address; the window stays open and the same. Without a browser an
    // alert over the window says that nothing could open it.
    void links_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("desktopOpens");
        QTest::newRow("website") << "Website" << ProjectInfo::websiteURL << true;
        QTest::newRow("support") << "Help & Support" << ProjectInfo::supportURL << true;
        QTest::newRow("forum") << "Community Forum" << ProjectInfo::forumURL << true;
        QTest::newRow("credit") << ProjectInfo::creditLine << ProjectInfo::homeURL << true;
        QTest::newRow("website, no browser") << "Website" << ProjectInfo::websiteURL << false;
        QTest::newRow("credit, no browser") << ProjectInfo::creditLine << ProjectInfo::homeURL << false;
    }

    void links() {
        QFETCH(QString, title);
        QFETCH(QString, url);
        QFETCH(bool, desktopOpens);
        m_desktopOpens = desktopOpens;
        AboutWindowController controller;
        auto presenter = std::make_shared<ScriptedAlertPresenter>();
        controller.alertPresenter = presenter;
        controller.showWindow();
        QPushButton* link = nullptr;
        for (QPushButton* button : controller.window()->findChildren<QPushButton*>()) {
            if (button->text().replace(QLatin1String("&&"), QLatin1String("&")) == title)
                link = button;
        }
        QVERIFY(link);
        QCOMPARE(link->toolTip(), url);
        // Shown as written: an "&" must not turn into a shortcut letter.
        QVERIFY(QKeySequence::mnemonic(link->text()).isEmpty());
        link->click();
        QCOMPARE(m_opened, QStringList{url});
        QVERIFY(controller.window()->isVisible());
        QCOMPARE(presenter->requests.size(), desktopOpens ? 0 : 1);
        if (!desktopOpens) {
            const AlertRequest& alert = presenter->requests.first();
            QCOMPARE(alert.message, QStringLiteral("The link could not be opened."));
            QCOMPARE(alert.informative,
                     QStringLiteral("No application on this computer could open \u201C%1\u201D.").arg(url));
            QCOMPARE(alert.buttons, QStringList{QStringLiteral("OK")});
            QCOMPARE(presenter->parents.first().data(), controller.window());
        }
    }

    // Only a web address carried by the sender is opened.
    void openLinkIgnoresOtherSenders() {
        AboutWindowController controller;
        QObject noLink;
        QObject notText;
        notText.setProperty(AboutWindowController::linkURLKey, 42);
        QObject notAnAddress;
        notAnAddress.setProperty(AboutWindowController::linkURLKey, QStringLiteral("no address"));
        for (QObject* sender : {static_cast<QObject*>(nullptr), &noLink, &notText, &notAnAddress})
            controller.openLink(sender);
        QVERIFY(m_opened.isEmpty());
    }

private:
    QStringList m_opened;
    bool m_desktopOpens = true;
};

QTEST_MAIN(tst_AboutWindowController)
#include "tst_AboutWindowController.moc"
