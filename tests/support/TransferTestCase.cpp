#include "TransferTestCase.h"

#include "EventLoop.h"
#include "TestFiles.h"

#include "device/AFCLocation.h"
#include "platform/UserDefaults.h"
#include "platform/async/RunSync.h"
#include "services/PreferencesViewController.h"
#include "transfer/TransferReportWriter.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

async::Task<ConflictAnswer> ScriptedPrompter::ask(QString itemName, std::stop_token) {
    questions.append(itemName);
    if (onAsk)
        onAsk();
    co_return answers.isEmpty() ? ConflictAnswer{ConflictResolution::stop, false} : answers.takeFirst();
}

ConflictAnswer answer(ConflictResolution resolution, bool applyToAll) {
    return ConflictAnswer{resolution, applyToAll};
}

QStringList treeOf(const QString& root) {
    QStringList lines;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString relative = QDir(root).relativeFilePath(info.filePath());
        lines.append(info.isDir() ? relative + QLatin1Char('/')
                                  : relative + QLatin1Char(' ') + QString::number(info.size()));
    }
    lines.sort();
    return lines;
}

QMap<QString, QByteArray> contentsOf(const QString& root, bool folders) {
    QMap<QString, QByteArray> items;
    for (const QString& line : treeOf(root)) {
        if (line.endsWith(QLatin1Char('/'))) {
            if (folders)
                items.insert(line, QByteArray());
            continue;
        }
        const QString relative = line.left(line.lastIndexOf(QLatin1Char(' ')));
        items.insert(relative, fileContents(root + QLatin1Char('/') + relative));
    }
    return items;
}

QStringList itemsIn(const QString& root) {
    QStringList items;
    const QMap<QString, QByteArray> contents = contentsOf(root, true);
    for (auto it = contents.cbegin(); it != contents.cend(); ++it)
        items << (it.key().endsWith(u'/') ? it.key() : it.key() + u'=' + QString::fromUtf8(it.value()));
    items.sort();
    return items;
}

void TransferTestCase::setUpTransferTestCase() {
    // Reports and the journal of leftovers go below the data folder: a test's must not land in
    // the user's.
    static QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    // Copies between devices pass through the private temporary folder: each test program has
    // its own, so that one that counts what is left there never sees another's copy in progress.
    static QTemporaryDir temporary;
    qputenv("TMPDIR", temporary.path().toUtf8());
    static QTemporaryDir defaultsFolder;
    UserDefaults::setStandardFilePathForTesting(defaultsFolder.filePath(QStringLiteral("defaults.plist")));
}

void TransferTestCase::setUpTransfers() {
    setUpTest();
    UserDefaults& defaults = PreferencesViewController::defaults();
    for (const QString& key : defaults.keys())
        defaults.remove(key);
    QDir(TransferReportWriter::reportsDirectory()).removeRecursively();

    fakemux::DeviceDescription description = describeDevice(udid);
    m_media = QString::fromStdString(description.mediaRoot.string());
    m_mac = scratchPath(QStringLiteral("computer"));
    m_app = scratchPath(QStringLiteral("app"));
    description.apps = {{appID.toStdString(), "Notes", true, std::nullopt, m_app.toStdString()}};
    m_device = &addDevice(std::move(description));
    m_bridge = std::make_shared<AFCBridge>();
    m_provider = std::make_shared<FileSystemProvider>(*m_bridge, m_clock);
    m_prompter = std::make_shared<ScriptedPrompter>();
    m_manager = std::make_unique<TransferManager>(defaults, m_clock, m_notifications);
    m_manager->setAFCBridge(m_bridge);
    m_manager->setFileSystemProvider(m_provider);
    m_manager->setConflictPrompter(m_prompter);
    m_manager->setTimerSource(m_timers);
}

void TransferTestCase::tearDownTransfers() {
    m_manager.reset();
    m_provider.reset();
    m_bridge.reset();
    m_device = nullptr;
    tearDownTest();
}

URL TransferTestCase::location(Side side, const QString& relative) const {
    return side == Side::mac ? URL::fileURL(m_mac + relative) : AFCLocation::mediaURL(udid, relative);
}

FileItem TransferTestCase::item(Side side, const QString& relative) const {
    const QFileInfo info(root(side) + relative);
    const URL url = location(side, relative);
    return FileItem(url.absoluteString(), url.lastPathComponent(), url, info.isDir(),
                    info.isDir() ? 0 : quint64(info.size()), Date::now(), FileKind::other, std::nullopt);
}

Transfer TransferTestCase::launched(const QList<FileItem>& sources, const URL& destination) {
    const Transfer started = m_manager->startTransfer(sources, destination);
    m_manager->launchTask(started);
    return started;
}

Transfer TransferTestCase::finished(QUuid id) {
    try {
        async::runSync(m_manager->waitForTransfer(id));
    } catch (...) {
    }
    drainPostedEvents();
    for (const Transfer& record : m_manager->completedTransfers.value()) {
        if (record.id == id)
            return record;
    }
    return Transfer{};
}

bool TransferTestCase::readHeld(fakemux::VirtualDevice* device) {
    fakemux::Faults& faults = (device ? device : m_device)->faults();
    for (int round = 0; round < 4000; ++round) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (faults.waitUntilReadHeld(std::chrono::milliseconds(1)))
            return true;
    }
    return false;
}

bool TransferTestCase::writeStalled(fakemux::VirtualDevice* device) {
    fakemux::Faults& faults = (device ? device : m_device)->faults();
    for (int round = 0; round < 4000; ++round) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (faults.waitUntilWriteStalled(std::chrono::milliseconds(1)))
            return true;
    }
    return false;
}

Transfer TransferTestCase::transfer(const QList<FileItem>& sources, const URL& destination) {
    return finished(launched(sources, destination).id);
}
