// Speed of Quick Look on a device photo: from the Space key (the coordinator's showPanel) to the
// picture on screen in the panel, against the same work done plainly in the same run: the file
// downloaded through the device layer, then decoded with a bare QImageReader at the size the
// panel shows it. Meanwhile a 5 ms timer on the main thread measures the longest gap between its
// ticks: previewing must never freeze the window.
//
//     quick_look [rounds, default 9]
//
// Over the in-process device emulator, with files on /dev/shm so that the disk does not set the
// pace. Every round starts from a fresh coordinator and folder, so each preview copies the file
// anew; the two sides take turns going first, and the best round of each counts. The last line
// holds the figures for scripts to read.

#include "BenchArguments.h"
#include "BenchSupport.h"
#include "device/AFCBridge.h"
#include "emulator/Emulator.h"
#include "platform/ManualUiTimerSource.h"
#include "platform/TemporaryDirectory.h"
#include "platform/UserDefaults.h"
#include "platform/async/RunSync.h"
#include "services/NavigationState.h"
#include "sidebar/QuickLookCoordinator.h"
#include "uikit/QuickLookPanel.h"

#include "TestMedia.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImageReader>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace {

const QString udid = QStringLiteral("00008110-00BE4C4B00000019");
const QString photoPath = QStringLiteral("/DCIM/100APPLE/IMG_0001.JPG");
constexpr auto noTimeLimit = std::chrono::hours(1);

// A phone-like JPEG of about 3 MB.
QByteArray photo() {
    const QImage picture = quadrantImage(QSize(4032, 3024), 24, 19);
    return withExif(jpegBytes(picture, 92), 1, jpegBytes(picture.scaled(160, 120), 85));
}

void writeFile(const std::filesystem::path& path, const QByteArray& bytes) {
    std::filesystem::create_directories(path.parent_path());
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        throw std::runtime_error("cannot write " + path.string());
}

// The plain way: the device layer's download, then one scaled decode.
double bareSeconds(AFCBridge& bridge, const std::filesystem::path& folder, int maxPixels) {
    bench::makeFreshFolder(folder);
    const URL target = URL::fileURL(QString::fromStdString((folder / "IMG_0001.JPG").string()));
    QElapsedTimer timer;
    timer.start();
    async::runSync(bridge.download(udid, photoPath, target, std::nullopt, {}), noTimeLimit);
    QImageReader reader(target.toLocalFile());
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && std::max(size.width(), size.height()) > maxPixels)
        reader.setScaledSize(size.scaled(maxPixels, maxPixels, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (image.isNull())
        throw std::runtime_error("the bare decode failed");
    return seconds;
}

// Space to picture: a fresh coordinator, so the copy is made again.
double quickLookSeconds(NavigationState& navigation, const std::shared_ptr<AFCBridge>& bridge,
                        UiTimerSource& timers, const std::filesystem::path& folder,
                        bench::StallWatch& stalls) {
    bench::makeFreshFolder(folder);
    QuickLookCoordinator coordinator(navigation, bridge, timers, QString::fromStdString(folder.string()));
    QuickLookPanel* panel = QuickLookPanel::shared();
    panel->orderOut();
    QEventLoop loop;
    bool shown = false;
    const auto connection = QObject::connect(panel, &QuickLookPanel::previewShown, &loop,
                                             [&](int, QuickLookPanel::ContentKind kind) {
                                                 shown = kind == QuickLookPanel::ContentKind::image;
                                                 loop.quit();
                                             });
    QTimer::singleShot(std::chrono::minutes(2), &loop, &QEventLoop::quit);
    stalls.start();
    QElapsedTimer timer;
    timer.start();
    coordinator.showPanel(panel);
    loop.exec();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    stalls.stop();
    QObject::disconnect(connection);
    if (!shown)
        throw std::runtime_error("the panel did not show the picture");
    return seconds;
}

int run(int argc, char** argv, const std::filesystem::path& work) {
    const std::optional<uint64_t> roundArg =
        argc > 1 ? bench::parseCount("quick_look", "rounds", argv[1], 1000) : 9;
    if (!roundArg || argc > 2)
        throw std::runtime_error("usage: quick_look [rounds]");
    if (!bench::roomFor("quick_look", work, 32 << 20))
        return 2;
    const int rounds = int(*roundArg);

    const std::filesystem::path media = work / "media";
    const QByteArray bytes = photo();
    writeFile(media / "DCIM" / "100APPLE" / "IMG_0001.JPG", bytes);
    const auto emulator = bench::startEmulator(udid.toStdString(), media);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::quietLogging();
    UserDefaults defaults(QString::fromStdString((work / "defaults.plist").string()));
    NavigationState navigation(defaults);
    const URL url = URL::fromComponents(QStringLiteral("afc"), udid, photoPath);
    const FileItem item(url.absoluteString(), url.lastPathComponent(), url, false, quint64(bytes.size()),
                        Date(), FileKind::image, std::nullopt);
    navigation.currentDirectoryContents = QList<FileItem>{item};
    navigation.selectedItems = QSet<FileItem>{item};
    // The selection's debounce never fires here: the preview is started by hand, as Space does.
    ManualUiTimerSource timers;

    auto bridge = std::make_shared<AFCBridge>();
    QuickLookPanel* panel = QuickLookPanel::shared();
    panel->show();
    const int maxPixels =
        std::max(panel->width(), panel->height()) * std::max(1, int(panel->devicePixelRatio()));
    bench::StallWatch warmUp;
    bench::StallWatch stalls;
    double bare = 1e9;
    double quickLook = 1e9;
    // A first preview opens the device session for both sides; it is not counted.
    quickLookSeconds(navigation, bridge, timers, work / "warm", warmUp);
    for (int round = 0; round < rounds; ++round) {
        const auto bareFolder = work / ("bare" + std::to_string(round));
        const auto previewFolder = work / ("preview" + std::to_string(round));
        if (round % 2 == 0) {
            bare = std::min(bare, bareSeconds(*bridge, bareFolder, maxPixels));
            quickLook =
                std::min(quickLook, quickLookSeconds(navigation, bridge, timers, previewFolder, stalls));
        } else {
            quickLook =
                std::min(quickLook, quickLookSeconds(navigation, bridge, timers, previewFolder, stalls));
            bare = std::min(bare, bareSeconds(*bridge, bareFolder, maxPixels));
        }
    }
    QuickLookPanel::destroyShared();

    std::printf("one %.1f MB device JPEG of 4032 x 3024, shown at %d pixels, best of %d rounds\n",
                double(bytes.size()) / 1e6, maxPixels, rounds);
    std::printf(
        "  download + bare QImageReader %7.1f ms, Space to picture %7.1f ms, ratio %.2f (target <= 1.30)\n",
        bare * 1e3, quickLook * 1e3, quickLook / bare);
    std::printf("main thread: longest gap between ticks of a 5 ms timer %.1f ms (target <= 50)\n",
                stalls.longestMs());
    std::printf("quick_look ratio=%.2f max_stall_ms=%.1f\n", quickLook / bare, stalls.longestMs());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::runInWorkFolder("quick_look", "/dev/shm", "orvanta-bench", argc, argv, run);
}
