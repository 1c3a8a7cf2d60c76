#pragma once

#include "models/FileItem.h"
#include "platform/URL.h"
#include "platform/async/Task.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <algorithm>
#include <memory>
#include <optional>

class AFCBridge;

// Small pictures of image and video files, on the computer or on a device, kept in memory by the
// item's location for the preview pane and the Get Info panel.
//
// Computer files are read in place. A device JPEG is read only by its head: the picture when the
// head holds all of it, else the EXIF thumbnail a camera stores near its start. Other device
// pictures, JPEGs without such a thumbnail, and videos are copied whole into the folder
// "OrvantaThumbnails" of the run's own temporary folder (runTemporaryDirectory()), once per item in
// a run, and those copies are reused. Pictures up to 10,000,000 bytes and videos up to 50,000,000 bytes are
// copied; larger ones get no thumbnail, also when their listed size was unknown or stale.
//
// An actor: its records live on the main thread, where its operations run as coroutines; all
// file work and decoding runs on its own executor thread, and device reads on the bridge's.
// Operations are re-entrant at their waits, so a second request for an item whose thumbnail is
// being made gets nothing at once instead of making it twice. No operation fails: every failure
// ends in a null image (and a log line on the "ui" channel where something went wrong).
//
// A bridge handed to a request must outlive it.
class ThumbnailCache {
public:
    // Most thumbnails kept in memory; a store into a full cache first drops the oldest hundred.
    static constexpr int maxCacheSize = 500;
    static constexpr int evictionCount = 100;
    // The nominal size; bitmaps get twice its larger side, for screens of two pixels per point.
    static constexpr QSize thumbnailSize{120, 120};
    static constexpr int maxPixelSize = 2 * std::max(thumbnailSize.width(), thumbnailSize.height());
    static constexpr quint64 videoThumbnailMaxSize = 50'000'000;
    static constexpr quint32 imageThumbnailHeadBytes = 524'288;
    static constexpr quint64 imageThumbnailMaxSize = 10'000'000;
    static constexpr QLatin1StringView copiesFolderName{"OrvantaThumbnails"};

    // The one cache of the process, made on first use (on the main thread) and never destroyed.
    static ThumbnailCache& shared();

    // temporaryFolder: where device copies go; empty for "OrvantaThumbnails" in the run's
    // temporary folder, looked up anew for each copy.
    explicit ThumbnailCache(QString temporaryFolder = {});
    // Requests still running keep what they need alive and end normally.
    ~ThumbnailCache();
    ThumbnailCache(const ThumbnailCache&) = delete;
    ThumbnailCache& operator=(const ThumbnailCache&) = delete;

    // A computer item's thumbnail, made from the file in place.
    async::Task<QImage> localThumbnail(FileItem item);
    // The entry point: the thumbnail of any item, or a null image for items that are no image or
    // video, that are in flight, too large, or unreadable. afcBridge may be null; device images
    // then get nothing, device videos only a copy remembered earlier in the run.
    async::Task<QImage> thumbnail(FileItem item, AFCBridge* afcBridge);
    // The same, except that while another request makes this item's thumbnail it waits for that
    // one and returns what it made: for a single view (Quick Look) that would otherwise show an
    // icon because the preview pane asked first.
    async::Task<QImage> thumbnailAwaitingOthers(FileItem item, AFCBridge* afcBridge);
    async::Task<QImage> afcImageThumbnail(FileItem item, AFCBridge* afcBridge);
    // A whole local copy of a device item, made once and then remembered while its file exists;
    // nothing when the item holds more than maxBytes.
    async::Task<std::optional<URL>> afcLocalCopy(FileItem item, AFCBridge* afcBridge, quint64 maxBytes);
    void store(QImage image, URL url);
    async::Task<QImage> generateImageThumbnail(URL url);
    async::Task<QImage> generateVideoThumbnail(URL url);

    // Removes the copies of device items this cache made, and the folder when that leaves it
    // empty, and forgets them; the pictures made from them stay. The copies serve one run: the
    // program calls this as it quits.
    void removeTemporaryCopies();

    int cachedCount() const;
    // The cached thumbnail of a location; null when there is none.
    QImage cachedThumbnail(const URL& url) const;

private:
    struct State;
    class InFlightMark;

    static async::Task<QImage> thumbnailIn(std::shared_ptr<State> state, FileItem item, AFCBridge* bridge);
    static async::Task<QImage> localThumbnailIn(std::shared_ptr<State> state, FileItem item);
    // The image of the request already making key, once it ends; null when it made none.
    static async::Task<QImage> awaitInFlight(std::shared_ptr<State> state, URL key);
    static async::Task<QImage> afcImageThumbnailIn(std::shared_ptr<State> state, FileItem item,
                                                   AFCBridge* bridge);
    static async::Task<std::optional<URL>> afcLocalCopyIn(std::shared_ptr<State> state, FileItem item,
                                                          AFCBridge* bridge, quint64 maxBytes);
    static async::Task<std::optional<URL>> rememberedCopy(std::shared_ptr<State> state, QString key);
    static async::Task<QImage> imageAt(std::shared_ptr<State> state, URL url);
    static async::Task<QImage> videoAt(std::shared_ptr<State> state, URL url);
    static async::Task<void> removeFile(std::shared_ptr<State> state, QString path);

    std::shared_ptr<State> m_state;
};
