#include "device/LeftoverJournal.h"

#include "device/AFCPath.h"
#include "device/LeftoverCleanup.h"
#include "platform/Logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

QString kindText(LeftoverJournal::Kind kind) {
    switch (kind) {
    case LeftoverJournal::Kind::asideItem:
        return QStringLiteral("aside");
    case LeftoverJournal::Kind::newFolder:
        return QStringLiteral("folder");
    case LeftoverJournal::Kind::partialCopy:
        break;
    }
    return QStringLiteral("partial");
}

QJsonObject toJson(const LeftoverJournal::Entry& entry) {
    QJsonObject object{{QStringLiteral("kind"), kindText(entry.kind)}, {QStringLiteral("path"), entry.path}};
    if (!entry.udid.isEmpty())
        object.insert(QStringLiteral("udid"), entry.udid);
    if (!entry.bundleID.isEmpty())
        object.insert(QStringLiteral("bundleID"), entry.bundleID);
    if (!entry.originalPath.isEmpty())
        object.insert(QStringLiteral("originalPath"), entry.originalPath);
    if (!entry.mark.isEmpty())
        object.insert(QStringLiteral("mark"), entry.mark);
    // As hexadecimal text: a JSON number would lose the low bits of a 64-bit id.
    if (entry.folderFileSystem.device != 0)
        object.insert(QStringLiteral("folderDevice"), QString::number(entry.folderFileSystem.device, 16));
    if (entry.folderFileSystem.id != 0)
        object.insert(QStringLiteral("folderFileSystem"), QString::number(entry.folderFileSystem.id, 16));
    if (entry.folderInode != 0)
        object.insert(QStringLiteral("folderInode"), QString::number(entry.folderInode, 16));
    return object;
}

// Zero (unknown) when absent or not a number of ours.
quint64 hexNumber(const QJsonObject& object, const QString& key) {
    bool ok = false;
    const quint64 value = object.value(key).toString().toULongLong(&ok, 16);
    return ok ? value : 0;
}

QByteArray lineOf(const LeftoverJournal::Entry& entry, const char* outcome = nullptr) {
    QJsonObject object = toJson(entry);
    if (outcome)
        object.insert(QLatin1String(outcome), true);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<LeftoverJournal::Entry> fromJson(const QJsonObject& object) {
    LeftoverJournal::Entry entry;
    const QString kind = object.value(QStringLiteral("kind")).toString();
    if (kind == QStringLiteral("aside"))
        entry.kind = LeftoverJournal::Kind::asideItem;
    else if (kind == QStringLiteral("folder"))
        entry.kind = LeftoverJournal::Kind::newFolder;
    else if (kind != QStringLiteral("partial"))
        return std::nullopt;
    entry.path = object.value(QStringLiteral("path")).toString();
    entry.udid = object.value(QStringLiteral("udid")).toString();
    entry.bundleID = object.value(QStringLiteral("bundleID")).toString();
    entry.originalPath = object.value(QStringLiteral("originalPath")).toString();
    entry.mark = object.value(QStringLiteral("mark")).toString();
    entry.folderFileSystem.device = hexNumber(object, QStringLiteral("folderDevice"));
    entry.folderFileSystem.id = hexNumber(object, QStringLiteral("folderFileSystem"));
    entry.folderInode = hexNumber(object, QStringLiteral("folderInode"));
    return entry;
}

// Opens and locks path for as long as the descriptor stays open; -1 when another holds the lock
// (or the file cannot be opened). A lock taken on a file that was removed meanwhile is no lock on
// the name: the name is tried anew.
int lockFile(const QString& path, bool create) {
    const QByteArray native = QFile::encodeName(path);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(native.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0), 0600);
        if (fd < 0)
            return -1;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return -1;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::lstat(native.constData(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino)
            return fd;
        ::close(fd);
        if (!create)
            return -1;
    }
    return -1;
}

QString lockOf(const QString& file) {
    return file + QStringLiteral(".lock");
}

void syncFolderOf(const QString& file) {
    const int fd = ::open(QFile::encodeName(QFileInfo(file).absolutePath()).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool writeAll(int fd, const QByteArray& text) {
    qsizetype done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.constData() + done, size_t(text.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

} // namespace

LeftoverJournal::LeftoverJournal(QString file) : m_base(std::move(file)) {
    claimFile();
    load();
    adoptEnded();
}

LeftoverJournal::~LeftoverJournal() {
    if (m_fd >= 0)
        ::close(m_fd);
    // Nothing standing: the file goes, then its lock. Else both stay for the next instance.
    if (m_entries.isEmpty() && m_lockFd >= 0) {
        QFile::remove(m_file);
        QFile::remove(lockOf(m_file));
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

QString LeftoverJournal::defaultFile() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    return base + QStringLiteral("/Orvanta/Leftovers.jsonl");
}

std::shared_ptr<LeftoverJournal> LeftoverJournal::shared(const QString& file) {
    static QMutex registryMutex;
    static QHash<QString, std::weak_ptr<LeftoverJournal>> registry;
    const QString path = file.isEmpty() ? defaultFile() : file;
    QMutexLocker lock(&registryMutex);
    if (auto existing = registry.value(path).lock())
        return existing;
    auto journal = std::make_shared<LeftoverJournal>(path);
    registry.insert(path, journal);
    return journal;
}

// The given file when no live instance holds it, else a sibling of this instance's own.
void LeftoverJournal::claimFile() {
    m_file = m_base;
    if (!ensureFolder())
        return;
    m_lockFd = lockFile(lockOf(m_base), true);
    while (m_lockFd < 0) {
        const QString suffix =
            QString::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, QLatin1Char('0'));
        m_file = m_base + QLatin1Char('.') + suffix;
        if (QFileInfo::exists(lockOf(m_file)))
            continue;
        m_lockFd = lockFile(lockOf(m_file), true);
        if (m_lockFd < 0 && !QFileInfo::exists(lockOf(m_file))) {
            Logger::filesystem().error("Could not lock a list of leftovers beside %s", m_base);
            return;
        }
    }
}

QList<LeftoverJournal::Entry> LeftoverJournal::parse(const QByteArray& text) {
    QList<Entry> entries;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        // A line cut short by a crash, or one that reads as no entry, costs only itself.
        const QJsonObject object = QJsonDocument::fromJson(text.mid(start, end - start)).object();
        start = end + 1;
        std::optional<Entry> entry = fromJson(object);
        if (!entry)
            continue;
        if (!LeftoverCleanup::isOwnEntry(*entry)) {
            Logger::filesystem().error("Ignored a line of the list of leftovers that names no hidden item of ours: %s",
                                       entry->path);
            continue;
        }
        const qsizetype at = entries.indexOf(*entry);
        if (object.value(QStringLiteral("gone")).toBool()) {
            if (at >= 0)
                entries.removeAt(at);
        } else if (object.value(QStringLiteral("replaced")).toBool()) {
            if (entry->kind != Kind::asideItem)
                continue;
            if (at >= 0) {
                entries[at].replaced = true;
            } else {
                entry->replaced = true;
                entries.append(*entry);
            }
        } else if (at < 0) {
            entries.append(*entry);
        }
    }
    return entries;
}

// The file is a log, one JSON object a line: an entry added, its outcome ("replaced"), or its
// end ("gone"). Every upload, and every single file copied onto this computer, adds and strikes
// one, so a line appended costs far less than the whole list written anew and renamed. A long log
// is emptied in place once nothing in it stands; it is written anew, holding only what stands,
// when it has grown longer still, and when it is opened holding struck-out lines beside entries
// that stand (after a run that did not end cleanly): rare, so the usual opening reads a short
// file or none.
void LeftoverJournal::load() {
    if (m_lockFd < 0)
        return;
    QFile file(m_file);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        Logger::filesystem().error("Could not read the list of leftovers %s: %s", m_file, file.errorString());
        return;
    }
    const QByteArray text = file.readAll();
    file.close();
    m_entries = parse(text);
    m_lines = text.count('\n');
    if (m_entries.isEmpty()) {
        QFile::remove(m_file);
        m_lines = 0;
    } else if (m_lines > m_entries.size()) {
        rewrite();
    }
}

void LeftoverJournal::adoptEnded() {
    if (m_lockFd < 0)
        return;
    const QFileInfo base(m_base);
    const QString prefix = base.fileName();
    const QStringList names = QDir(base.absolutePath()).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        // The given file itself, or one with this program's random suffix.
        const bool sibling = name.size() == prefix.size() + 17 && name.startsWith(prefix) &&
                             name.at(prefix.size()) == QLatin1Char('.') &&
                             std::all_of(name.begin() + prefix.size() + 1, name.end(), [](QChar c) {
                                 return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
                             });
        if (name != prefix && !sibling)
            continue;
        const QString file = base.absolutePath() + QLatin1Char('/') + name;
        if (file == m_file)
            continue;
        const int lockFd = lockFile(lockOf(file), true);
        if (lockFd < 0)
            continue; // its instance is alive: its entries are its own
        adopt(file, lockFd);
    }
}

void LeftoverJournal::adopt(const QString& file, int lockFd) {
    QFile other(file);
    QList<Entry> found;
    bool readable = true;
    if (other.exists()) {
        readable = other.open(QIODevice::ReadOnly);
        if (readable) {
            found = parse(other.readAll());
            other.close();
        } else {
            Logger::filesystem().error("Could not read the list of leftovers %s: %s", file, other.errorString());
        }
    }
    bool kept = readable;
    QByteArray text;
    for (const Entry& entry : std::as_const(found)) {
        const qsizetype at = m_entries.indexOf(entry);
        if (at >= 0) {
            m_entries[at].replaced = m_entries[at].replaced || entry.replaced;
        } else {
            m_entries.append(entry);
        }
        text += lineOf(entry, nullptr);
        if (entry.replaced)
            text += lineOf(entry, "replaced");
    }
    // Written here and synced before the other file goes: a crash in between leaves the entries
    // twice, never nowhere.
    if (!text.isEmpty()) {
        kept = ensureFolder() && openForAppending() && writeAll(m_fd, text) && ::fdatasync(m_fd) == 0;
        if (kept) {
            m_lines += text.count('\n');
            syncFolderOf(m_file);
        } else {
            Logger::filesystem().error("Could not take over the list of leftovers %s", file);
        }
    }
    if (kept) {
        Logger::filesystem().info("Took over %lld leftover entries of an instance that ended: %s",
                                  qlonglong(found.size()), file);
        QFile::remove(file);
        QFile::remove(lockOf(file));
    }
    ::close(lockFd);
}

bool LeftoverJournal::ensureFolder() {
    // Made once: every upload appends two lines.
    if (m_folderMade)
        return true;
    m_folderMade = QDir().mkpath(QFileInfo(m_base).absolutePath());
    if (m_folderMade)
        return true;
    Logger::filesystem().error("Could not make the folder of %s", m_base);
    return false;
}

bool LeftoverJournal::openForAppending() {
    if (m_fd >= 0)
        return true;
    const bool existed = QFileInfo::exists(m_file);
    m_fd = ::open(QFile::encodeName(m_file).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                  0600);
    if (m_fd < 0)
        return false;
    // A new file must itself survive a power cut before any entry in it can.
    if (!existed)
        syncFolderOf(m_file);
    return true;
}

bool LeftoverJournal::rewrite() {
    if (m_lockFd < 0 || !ensureFolder())
        return false;
    QByteArray text;
    for (const Entry& entry : std::as_const(m_entries)) {
        text += lineOf(entry);
        if (entry.replaced)
            text += lineOf(entry, "replaced");
    }
    const QString fresh = m_file + QStringLiteral(".new");
    const QByteArray native = QFile::encodeName(fresh);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    bool written = fd >= 0 && writeAll(fd, text) && ::fdatasync(fd) == 0;
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    written = written && ::rename(native.constData(), QFile::encodeName(m_file).constData()) == 0;
    if (!written) {
        Logger::filesystem().error("Could not write the list of leftovers %s (errno %d)", m_file, error);
        ::unlink(native.constData());
        return false;
    }
    syncFolderOf(m_file);
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
    m_lines = text.count('\n');
    return true;
}

bool LeftoverJournal::append(const Entry& entry, Line line, bool durable) {
    if (m_lockFd < 0)
        return false;
    // Nothing stands once this entry is struck out: the log is emptied in place, with no new file
    // and no flush. Copies one at a time add and strike an entry for every file, and the log
    // written anew and synced would cost them a flush of the disk every few hundred files. A
    // power cut that undoes the emptying brings back only entries each with its end.
    if (line == Line::gone && m_entries.isEmpty() && m_lines >= compactAfterLines && openForAppending() &&
        ::ftruncate(m_fd, 0) == 0) {
        m_lines = 0;
        return true;
    }
    // Later than the emptying above, which a log whose entries all end comes to first.
    if (m_lines >= 2 * compactAfterLines && m_lines >= 4 * m_entries.size())
        return rewrite();
    if (!ensureFolder())
        return false;
    const QByteArray text = lineOf(entry, line == Line::gone       ? "gone"
                                          : line == Line::replaced ? "replaced"
                                                                   : nullptr);
    bool written = openForAppending() && writeAll(m_fd, text);
    // An item set aside is the user's own data under a hidden name: its entry must survive a
    // power cut. Losing a partial copy's costs at worst a hidden file left behind.
    if (written && durable)
        written = ::fdatasync(m_fd) == 0;
    if (!written) {
        Logger::filesystem().error("Could not write the list of leftovers %s (errno %d)", m_file, errno);
        if (m_fd >= 0)
            ::close(std::exchange(m_fd, -1));
        return false;
    }
    ++m_lines;
    return true;
}

LeftoverJournal::FileSystem LeftoverJournal::fileSystemOf(const QString& folder, quint64* inode) {
    const QByteArray native = QFile::encodeName(folder);
    struct stat st {};
    struct statfs fs {};
    if (inode)
        *inode = 0;
    if (::stat(native.constData(), &st) != 0 || ::statfs(native.constData(), &fs) != 0)
        return {};
    quint64 id = 0;
    static_assert(sizeof(fs.f_fsid) == 2 * sizeof(quint32));
    std::memcpy(&id, &fs.f_fsid, sizeof id);
    if (inode)
        *inode = quint64(st.st_ino);
    return {quint64(st.st_dev), id};
}

bool LeftoverJournal::isRecordedFolder(const QString& folder, const Entry& entry) {
    if (entry.folderInode == 0 || !entry.folderFileSystem.isKnown())
        return false;
    quint64 inode = 0;
    const FileSystem now = fileSystemOf(folder, &inode);
    return now.matches(entry.folderFileSystem) && inode == entry.folderInode;
}

std::optional<LeftoverJournal::Entry> LeftoverJournal::recorded(const Entry& entry) const {
    QMutexLocker lock(&m_mutex);
    const qsizetype at = m_entries.indexOf(entry);
    if (at < 0)
        return std::nullopt;
    return m_entries.at(at);
}

bool LeftoverJournal::begin(const Entry& given) {
    Entry entry = given;
    // Looked at before the lock: a slow disk holds up only this copy.
    if (entry.udid.isEmpty() && !entry.folderFileSystem.isKnown())
        entry.folderFileSystem = fileSystemOf(AFCPath::parent(entry.path), &entry.folderInode);
    QMutexLocker lock(&m_mutex);
    m_running.append(entry);
    if (m_entries.contains(entry))
        return true;
    m_entries.append(entry);
    // A folder made on a device holds the staging folder of its partial copies there, which
    // nothing else records; on this computer such a folder's leftovers go with a power cut.
    const bool durable =
        entry.kind == Kind::asideItem || (entry.kind == Kind::newFolder && !entry.udid.isEmpty());
    return append(entry, Line::added, durable);
}

bool LeftoverJournal::recordReplaced(const Entry& entry) {
    QMutexLocker lock(&m_mutex);
    const qsizetype at = m_entries.indexOf(entry);
    if (at < 0)
        return false;
    // Set first: a log written anew holds what the entries say.
    m_entries[at].replaced = true;
    if (append(entry, Line::replaced, true))
        return true;
    m_entries[at].replaced = false;
    return false;
}

void LeftoverJournal::finished(const Entry& entry) {
    QMutexLocker lock(&m_mutex);
    m_running.removeOne(entry);
    // Another copy may still own the same entry (two tries at one leftover): the file keeps it
    // until the last one lets go.
    if (m_running.contains(entry) || !m_entries.removeAll(entry))
        return;
    append(entry, Line::gone, false);
}

void LeftoverJournal::released(const Entry& entry) {
    QMutexLocker lock(&m_mutex);
    m_running.removeOne(entry);
}

QList<LeftoverJournal::Entry> LeftoverJournal::leftovers(const QString& udid, const QString& bundleID) {
    QMutexLocker lock(&m_mutex);
    adoptEnded();
    QList<Entry> found;
    for (const Entry& entry : std::as_const(m_entries)) {
        if (entry.udid == udid && entry.bundleID == bundleID && !m_running.contains(entry))
            found.append(entry);
    }
    return found;
}

QList<LeftoverJournal::Entry> LeftoverJournal::entries() const {
    QMutexLocker lock(&m_mutex);
    return m_entries;
}
