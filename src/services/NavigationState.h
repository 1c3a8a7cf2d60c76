#pragma once

#include "models/BrowserViewMode.h"
#include "models/FileItem.h"
#include "models/iOSDevice.h"
#include "platform/Observable.h"
#include "platform/URL.h"

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

class UserDefaults;

// The browsing state of one main window: the folder shown, what is listed and selected in it,
// how it is shown, the back and forward histories and the recently visited folders. It lists
// nothing itself: the browsers list currentPath and write what they find back here.
//
// Only the recent folders outlive the process. Main thread only; every published property
// notifies on every assignment, and nothing here reacts to an assignment made elsewhere.
class NavigationState {
public:
    static constexpr QLatin1StringView recentPathsKey{"OrvantaRecentPaths"};
    static constexpr qsizetype maximumRecentPaths = 10;

    // Loads the recent folders from the app's shared store, or from the one a test hands in
    // (which must outlive the state).
    NavigationState();
    explicit NavigationState(UserDefaults& defaults);
    NavigationState(const NavigationState&) = delete;
    NavigationState& operator=(const NavigationState&) = delete;

    // Written by navigation only; once set, never none again.
    Observable<std::optional<URL>> currentPath;
    // Written by the browsers and the main window; navigation empties it.
    Observable<QSet<FileItem>> selectedItems;
    Observable<BrowserViewMode> viewMode{BrowserViewMode::column};
    Observable<QList<FileItem>> currentDirectoryContents;
    // The column browser's chain of folders, first column to last.
    Observable<QList<URL>> columnPaths;
    // The search field's text; navigation empties it.
    Observable<QString> searchQuery;
    // Newest first. Written by this class only.
    Observable<QList<URL>> recentPaths;
    // The device of an "afc" currentPath, set by the main window.
    Observable<std::optional<iOSDevice>> currentDevice;

    // Most recent last; unbounded. Read by the main window to enable Back and Forward.
    const QList<URL>& backStack() const { return m_backStack; }
    const QList<URL>& forwardStack() const { return m_forwardStack; }

    // Shows the folder: the folder left goes onto the back history (also when it is the same
    // one) and the forward history is emptied. URLs are taken by value: a caller may well pass
    // an element of recentPaths or of a history, which these operations replace.
    void navigate(URL to);
    // Nothing at all when the respective history is empty.
    void goBack();
    void goForward();
    // Moves the folder to the front of the recent folders (by exact URL text), keeps the ten
    // newest and stores them.
    void addRecentPath(URL url);

private:
    void loadRecentPaths();
    void step(QList<URL>& from, QList<URL>& to);
    void show(const URL& url);

    UserDefaults& m_defaults;
    QList<URL> m_backStack;
    QList<URL> m_forwardStack;
};
