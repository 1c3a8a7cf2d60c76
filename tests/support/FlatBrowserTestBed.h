#pragma once

// The services of a flat browser (icon or list view) over a temporary folder tree, with a
// provider that holds, fails or refuses chosen operations. For the browser tests.

#include "ScriptedAlertPresenter.h"
#include "TemporaryDefaults.h"
#include "browser/FlatBrowserController.h"
#include "browser/IconBrowserViewController.h"
#include "browser/ListBrowserViewController.h"
#include "device/AFCBridge.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"
#include "platform/async/Continuation.h"
#include "platform/async/ManualClock.h"
#include "platform/async/RunSync.h"
#include "services/FileSystemProvider.h"
#include "services/NavigationState.h"
#include "transfer/ClipboardManager.h"
#include "transfer/TransferManager.h"

#include <QCoreApplication>
#include <QSet>
#include <QTest>

#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>

class FlatTestProvider : public FileSystemProvider {
public:
    using FileSystemProvider::FileSystemProvider;
    QSet<QString> held;
    QSet<QString> failing;
    QSet<QString> refusedDeletes;
    bool refuseRenames = false;
    QStringList deleted;

    async::Task<QList<FileItem>> listDirectory(URL at) override {
        if (held.contains(at.absoluteString())) {
            auto park = [this, at](async::Continuation<void> continuation) {
                m_waiting.append({at, std::move(continuation)});
            };
            co_await async::withContinuation<void>(park);
        }
        if (failing.contains(at.absoluteString()))
            throw FileError(EACCES, QStringLiteral("list"), at.path());
        co_return co_await FileSystemProvider::listDirectory(at);
    }

    async::Task<void> deleteItem(FileItem item) override {
        if (refusedDeletes.contains(item.name()))
            throw FileError(EPERM, QStringLiteral("delete"), item.path().path());
        co_await FileSystemProvider::deleteItem(item);
        deleted.append(item.name());
    }

    async::Task<void> renameItem(URL at, URL to) override {
        if (refuseRenames)
            throw FileError(EPERM, QStringLiteral("rename"), at.path());
        co_await FileSystemProvider::renameItem(at, to);
    }

    bool isWaiting(const URL& url) const {
        return std::any_of(m_waiting.begin(), m_waiting.end(),
                           [&url](const auto& w) { return w.first == url; });
    }
    void release(const URL& url) {
        held.remove(url.absoluteString());
        for (qsizetype i = m_waiting.size() - 1; i >= 0; --i) {
            if (m_waiting[i].first == url)
                m_waiting.takeAt(i).second.resume();
        }
    }

private:
    QList<QPair<URL, async::Continuation<void>>> m_waiting;
};

class FlatBrowserTestBed {
public:
    enum class Kind { list, icon };

    FlatBrowserTestBed() {
        bridge = std::make_shared<AFCBridge>();
        provider = std::make_shared<FlatTestProvider>(*bridge, clock);
        navigation = std::make_unique<NavigationState>(defaults.store());
        transfers =
            std::make_shared<TransferManager>(defaults.store(), clock, NotificationCenter::defaultCenter());
        transfers->setAFCBridge(bridge);
        transfers->setFileSystemProvider(provider);
        clipboard = std::make_unique<ClipboardManager>(transfers, provider);
        presenter = std::make_shared<ScriptedAlertPresenter>();
    }

    ~FlatBrowserTestBed() {
        browser.reset();
        clipboard.reset();
        transfers.reset();
        navigation.reset();
        provider.reset();
    }

    FlatBrowserController& make(Kind kind) {
        if (kind == Kind::list)
            browser = std::make_unique<ListBrowserViewController>(provider, *navigation, transfers, nullptr,
                                                                  clipboard.get());
        else
            browser = std::make_unique<IconBrowserViewController>(provider, *navigation, transfers, nullptr,
                                                                  clipboard.get());
        browser->setAlertPresenter(presenter);
        browser->resize(900, 500);
        browser->show();
        return *browser;
    }

    // Waits for every task the browser started, then for the deliveries they caused.
    void settle() {
        for (int round = 0; round < 5; ++round) {
            QCoreApplication::sendPostedEvents();
            for (const auto& task : browser->tasks())
                async::runSync(task.result(), std::chrono::seconds(10));
        }
        QCoreApplication::sendPostedEvents();
    }

    // Shows the folder and waits until the browser lists it.
    void open(const URL& url) {
        navigation->navigate(url);
        QCoreApplication::sendPostedEvents();
        settle();
    }

    QStringList shownNames() const {
        QStringList names;
        for (const FileItem& item : browser->displayedItems())
            names.append(item.name());
        return names;
    }

    int rowOf(const QString& name) const { return int(shownNames().indexOf(name)); }

    TemporaryDefaults defaults;
    async::ManualClock clock;
    std::shared_ptr<AFCBridge> bridge;
    std::shared_ptr<FlatTestProvider> provider;
    std::unique_ptr<NavigationState> navigation;
    std::shared_ptr<TransferManager> transfers;
    std::unique_ptr<ClipboardManager> clipboard;
    std::shared_ptr<ScriptedAlertPresenter> presenter;
    std::unique_ptr<FlatBrowserController> browser;
};

Q_DECLARE_METATYPE(FlatBrowserTestBed::Kind)

// One data row for each flat view, named "list: name" and "icon: name", with the view's kind in
// the first column; rest adds the row's other columns.
inline void addViewRows(const char* name, const std::function<void(QTestData&)>& rest) {
    using Kind = FlatBrowserTestBed::Kind;
    for (const auto& [view, kind] : {std::pair{"list", Kind::list}, std::pair{"icon", Kind::icon}}) {
        QTestData& row = QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(view, name))) << kind;
        rest(row);
    }
}

inline QStringList namesOf(const QList<FileItem>& items) {
    QStringList names;
    for (const FileItem& item : items)
        names.append(item.name());
    return names;
}
