#pragma once

#include "platform/async/TaskHandle.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QWidget>

#include <memory>

class AlertPresenter;
class QPushButton;

// Owns the About window (360 × 420, titled "About Orvanta"): the icon, the name, the version,
// the three links, the credit line, the legal notice and a short note. Built once; closing it
// only hides it, and the application shows the same window again on the next request.
class AboutWindowController : public QObject {
    Q_OBJECT
public:
    // The property each link button carries its address in, as text.
    static constexpr const char* linkURLKey = "orvantaLinkURL";

    // What the build says about itself; a value that is missing or not text shows as "?".
    struct BundleInfo {
        QVariant shortVersion;
        QVariant buildVersion;
    };
    static BundleInfo mainBundle();
    // "Version 1.2 (34)".
    static QString versionText(const BundleInfo& bundle);

    explicit AboutWindowController(BundleInfo bundle = mainBundle());
    ~AboutWindowController() override;

    QWidget* window() const { return m_window.get(); }
    void showWindow();

    // Every link button's action: opens the address it carries in the default browser, or says
    // over the window that nothing could open it.
    void openLink(QObject* sender);

    // Says why a link did not open; none says nothing.
    std::shared_ptr<AlertPresenter> alertPresenter;

protected:
    virtual void buildContent();
    virtual QPushButton* makeLinkButton(const QString& title, const QString& url);

private:
    std::unique_ptr<QWidget> m_window;
    BundleInfo m_bundle;
    QList<async::TaskHandle<void>> m_alertTasks;
};
