#pragma once

#include "models/FileItem.h"
#include "platform/Subscription.h"
#include "platform/URL.h"
#include "platform/async/Task.h"
#include "platform/async/TaskHandle.h"
#include "uikit/QuickLookPanel.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <functional>
#include <memory>
#include <optional>

class AFCBridge;
class AlertPresenter;
class NavigationState;
class UiTimerSource;

// Feeds the Quick Look panel with the files selected in the browser, in the browser's order.
// Files on this computer are shown in place. A device file whose contents the panel shows (a
// picture, a text) is first copied into the private temporary folder,
// "OrvantaPreview/<location digest>/<name>", one folder per device location so that two files
// of the same name never share a copy, while the panel's title stays the name. A copy, once
// made, serves every later request for its location for the rest of the run, and goes when the
// program quits. Any other device file is handed over where it is, with its size and type, so
// the panel shows its icon without a copy of the whole file; a video gets its thumbnail's frame.
//
// While the panel is open, every settled selection (50 ms without a change) refreshes it; while
// it is closed, selection changes cost nothing but the debounce timer. Arrow keys pressed in the
// panel go to the main window, so the browser moves its selection under the open panel.
//
// Main thread only. The navigation state must outlive the coordinator.
class QuickLookCoordinator : public QObject, public QuickLookPanelDataSource, public QuickLookPanelDelegate {
    Q_OBJECT
public:
    static constexpr QLatin1StringView previewFolderName{"OrvantaPreview"};

    // temporaryFolder: where "OrvantaPreview" goes; empty for the run's temporary folder.
    QuickLookCoordinator(NavigationState& navigationState, std::shared_ptr<AFCBridge> afcBridge,
                         UiTimerSource& timers, QString temporaryFolder = {});
    ~QuickLookCoordinator() override;

    void startObservingSelection();
    void refreshPanel(QuickLookPanel* panel);
    void showPanel(QuickLookPanel* panel);
    // Withdraws shows still waiting for their copies (the user pressed Space again before the
    // panel came up); true when there was one. Copies under way are finished and kept.
    bool cancelPendingShows();
    void reloadPreviewItemsFromCache();
    // The local copy of a device file; nothing when it cannot be made. One copy per location is
    // made at a time: a second request waits for the first.
    async::Task<std::optional<URL>> downloadForPreview(FileItem item);

    // The window whose focused view gets the arrow keys; none leaves them to the panel.
    std::function<QWidget*()> mainWindow;
    // Says over the panel that nothing on this computer could open a file; none says nothing.
    std::shared_ptr<AlertPresenter> alertPresenter;

    const QList<URL>& previewItems() const { return m_previewItems; }
    const QHash<QString, URL>& tempFiles() const { return m_tempFiles; }
    // The refreshes and shows started so far (tests await them).
    const QList<async::TaskHandle<void>>& panelTasks() const { return m_panelTasks; }
    QString previewFolder() const;
    // The subfolder of one device location: the first 16 hex digits of its SHA-256.
    static QString locationFolderName(const URL& location);
    // The files of a selection (folders left out), in the order the listing shows them; items
    // the listing lacks follow by name.
    static QList<FileItem> filesInBrowserOrder(const QSet<FileItem>& selection,
                                               const QList<FileItem>& listing);

    // Whether the panel shows this file's contents, which for a device file is worth a copy.
    static bool panelShowsContents(const FileItem& item);
    // Removes the copies made for the panel and the folders they leave empty, and forgets them
    // (at quit: they serve one run).
    void removeTemporaryCopies();

    int numberOfPreviewItems(QuickLookPanel* panel) override;
    std::optional<URL> previewItemAt(QuickLookPanel* panel, int index) override;
    QuickLookItemFacts previewFactsAt(QuickLookPanel* panel, int index) override;
    // A device file opens too: it is copied into the run's temporary folder (the copy the panel
    // may have made already serves), and the copy goes to the desktop's program.
    bool canOpenPreviewItem(QuickLookPanel* panel, const URL& url) override;
    void openPreviewItem(QuickLookPanel* panel, const URL& url) override;
    bool handleKeyEvent(QuickLookPanel* panel, QKeyEvent* event) override;

private:
    QList<FileItem> selectedFiles() const;
    void startPanelTask(QuickLookPanel* panel, bool show);
    static async::Task<void> buildItems(QPointer<QuickLookCoordinator> self, QPointer<QuickLookPanel> panel,
                                        QList<FileItem> files, bool show, std::stop_token token);
    static async::Task<QImage> videoFrame(std::shared_ptr<AFCBridge> bridge, FileItem file);
    static async::Task<void> openCopy(QPointer<QuickLookCoordinator> self, QPointer<QuickLookPanel> panel,
                                      FileItem file);
    void open(const URL& local, QuickLookPanel* panel);
    static async::Task<std::optional<URL>> awaitDownload(QPointer<QuickLookCoordinator> self, QString key,
                                                         quint64 serial,
                                                         async::TaskHandle<std::optional<URL>> handle);
    static async::Task<std::optional<URL>> fetch(QPointer<QuickLookCoordinator> self,
                                                 std::shared_ptr<AFCBridge> bridge, FileItem item,
                                                 QString folder, std::stop_token token);

    NavigationState& m_navigationState;
    std::shared_ptr<AFCBridge> m_afcBridge;
    UiTimerSource& m_timers;
    QString m_temporaryFolder;
    QList<URL> m_previewItems;
    QList<QuickLookItemFacts> m_previewFacts;
    // Video frames for the items shown, by location text; made anew for each new set of items.
    QHash<QString, QImage> m_frames;
    QHash<QString, URL> m_tempFiles;
    struct Download {
        quint64 serial = 0;
        async::TaskHandle<std::optional<URL>> handle;
    };
    QHash<QString, Download> m_downloads;
    quint64 m_downloadSerial = 0;
    QList<async::TaskHandle<void>> m_panelTasks;
    QList<async::TaskHandle<void>> m_pendingShows;
    QList<async::TaskHandle<void>> m_alertTasks;
    std::vector<Subscription> m_cancellables;
};
