#pragma once

#include "models/FileItem.h"
#include "platform/Error.h"
#include "platform/URL.h"
#include "platform/async/ContinuousClock.h"
#include "platform/async/SerialExecutor.h"
#include "platform/async/Task.h"

#include <QString>
#include <QVariantMap>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

class AFCBridge;
class TransferManager;

// A write request that cannot even name its source.
class FilePromiseError : public Error {
public:
    static constexpr int code = -1;
    static QString domain() { return QStringLiteral("Orvanta"); }
    static FilePromiseError missingSourceURL() {
        return FilePromiseError(QStringLiteral("Missing source URL"));
    }
    QString description() const override { return m_text; }

private:
    explicit FilePromiseError(QString text) : m_text(std::move(text)) {}
    QString m_text;
};

// Produces the files that a drag of rows promises to other programs: each item is copied into a
// fresh staging folder of its own and, once whole, moved to the place asked for. Device items
// come straight from the device over a private connection under a stall watchdog, computer
// items are copied on a worker thread, anything else goes through the transfer engine. While any
// request runs, the device manager's drag-out counter is above zero and device scans pause.
//
// Held by shared_ptr: every request keeps the handler alive until it has ended. Main thread only.
class DragAndDropHandler : public std::enable_shared_from_this<DragAndDropHandler> {
public:
    static constexpr double defaultStallTimeout = 30.0;

    // The keys of a promise's description.
    static const QString sourceURLKey;
    static const QString fileNameKey;
    static const QString isDirectoryKey;
    static const QString sizeKey;

    using Completion = std::function<void(std::exception_ptr)>;
    // Makes the private connection of one dragged device item.
    using BridgeFactory = std::function<std::shared_ptr<AFCBridge>()>;

    // The clock paces the stall watchdog and must outlive every request.
    static std::shared_ptr<DragAndDropHandler> create(std::shared_ptr<TransferManager> transferManager,
                                                      async::ContinuousClock& clock);
    static std::shared_ptr<DragAndDropHandler> create(std::shared_ptr<TransferManager> transferManager);
    virtual ~DragAndDropHandler();
    DragAndDropHandler(const DragAndDropHandler&) = delete;
    DragAndDropHandler& operator=(const DragAndDropHandler&) = delete;

    // Seconds without a single byte after which a device copy gives up.
    double filePromiseStallTimeout = defaultStallTimeout;
    void setBridgeFactory(BridgeFactory factory) { m_bridgeFactory = std::move(factory); }
    // Where staging folders are made; by default "OrvantaDragOut" in the run's own temporary
    // folder (runTemporaryDirectory()), which the next start removes if this run never quits.
    // The default is looked up anew each time: a run folder removed behind our back is made
    // anew under another name, and one remade under its old name would hold no lock. Empty when
    // there is no temporary folder.
    static constexpr QLatin1StringView stagingFolderName{"OrvantaDragOut"};
    void setStagingRoot(QString folder) { m_stagingRoot = std::move(folder); }
    QString stagingRoot() const { return m_stagingRoot.isEmpty() ? defaultStagingRoot() : m_stagingRoot; }
    static QString defaultStagingRoot();

    // The description a dragged row promises, and what is read back from one.
    static QVariantMap promiseInfo(const FileItem& item);
    // The promised name; "Unknown" when the description has none.
    static QString promisedFileName(const QVariantMap& info);
    // Nothing without a usable source location and name.
    static std::optional<FileItem> promisedItem(const QVariantMap& info);

    // Fulfils one promise at destination (a file URL whose folder exists) and calls completion
    // exactly once, with null for success. Returns at once; the work runs in a task.
    void writePromise(QVariantMap info, URL destination, Completion completion);
    // The same, awaited.
    async::Task<void> fulfil(QVariantMap info, URL destination);

    // Copies one item to a file URL by the route of its scheme.
    virtual async::Task<void> exportItem(FileItem item, URL destination);
    virtual async::Task<void> copyAFCFile(URL source, URL destination, double stallTimeout);
    virtual async::Task<void> copyAFCDirectory(URL source, URL destination, double stallTimeout);
    // Copies a device folder's contents, depth first in listing order, into an existing folder.
    virtual async::Task<void> copyAFCDirectoryContents(std::shared_ptr<AFCBridge> bridge, QString udid,
                                                       QString path, std::optional<QString> bundleID,
                                                       URL destination, double stallTimeout);

protected:
    DragAndDropHandler(std::shared_ptr<TransferManager> transferManager, async::ContinuousClock& clock);

private:
    async::Task<std::shared_ptr<AFCBridge>> openPrivateConnection(QString udid,
                                                                  std::optional<QString> bundleID);
    async::Task<quint64> copyFileUnderWatchdog(std::shared_ptr<AFCBridge> bridge, QString udid, QString path,
                                               std::optional<QString> bundleID, URL destination,
                                               double stallTimeout);

    std::shared_ptr<TransferManager> m_transferManager;
    async::ContinuousClock* m_clock;
    BridgeFactory m_bridgeFactory;
    QString m_stagingRoot;
    // Computer copies block on the disk, so they run here.
    async::SerialExecutor m_files{QStringLiteral("DragOutFiles")};
};
