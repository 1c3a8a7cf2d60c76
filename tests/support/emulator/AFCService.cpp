#include "AFCService.h"

#include "RequestLog.h"
#include "Socket.h"
#include "VirtualDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fakemux {

namespace {

constexpr char packetMagic[8] = {'C', 'F', 'A', '6', 'L', 'P', 'A', 'A'};
constexpr uint64_t headerSize = 40;
// The client moves at most a few MiB per request; a bigger frame is a broken stream.
constexpr uint64_t maxPacket = 64ull << 20;
constexpr uint64_t maxRead = 8ull << 20;
// Bulk data moves through the connection's buffer in pieces of at most this size.
constexpr size_t pieceSize = 1u << 20;

enum Op : uint64_t {
    Status = 0x01,
    Data = 0x02,
    ReadDir = 0x03,
    RemovePath = 0x08,
    MakeDir = 0x09,
    GetFileInfo = 0x0A,
    GetDevInfo = 0x0B,
    FileOpen = 0x0D,
    FileOpenResult = 0x0E,
    FileRead = 0x0F,
    FileWrite = 0x10,
    FileSeek = 0x11,
    FileTell = 0x12,
    FileTellResult = 0x13,
    FileClose = 0x14,
    FileSetSize = 0x15,
    RenamePath = 0x18,
    MakeLink = 0x1C,
    RemovePathAndContents = 0x22,
};

enum AfcStatus : uint64_t {
    Success = 0,
    UnknownError = 1,
    InvalidArg = 7,
    ObjectNotFound = 8,
    ObjectIsDir = 9,
    PermDenied = 10,
    OpNotSupported = 15,
    ObjectExists = 16,
    NoSpaceLeft = 18,
    IoError = 20,
};

uint64_t statusForErrno(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return ObjectNotFound;
    case EISDIR:
        return ObjectIsDir;
    case EACCES:
    case EPERM:
    case EROFS:
    case EXDEV: // a link that tries to leave the root
        return PermDenied;
    case EEXIST:
        return ObjectExists;
    case ENOSPC:
    case EDQUOT:
        return NoSpaceLeft;
    case ENOTEMPTY:
        return UnknownError; // the client turns 1 on REMOVE_PATH into "directory not empty"
    default:
        return IoError;
    }
}

const char* opName(uint64_t op) {
    switch (op) {
    case ReadDir:
        return "READ_DIR";
    case RemovePath:
        return "REMOVE_PATH";
    case MakeDir:
        return "MAKE_DIR";
    case GetFileInfo:
        return "GET_FILE_INFO";
    case GetDevInfo:
        return "GET_DEVINFO";
    case FileOpen:
        return "FILE_OPEN";
    case FileRead:
        return "FILE_READ";
    case FileWrite:
        return "FILE_WRITE";
    case FileSeek:
        return "FILE_SEEK";
    case FileTell:
        return "FILE_TELL";
    case FileClose:
        return "FILE_CLOSE";
    case FileSetSize:
        return "FILE_SET_SIZE";
    case RenamePath:
        return "RENAME_PATH";
    case MakeLink:
        return "MAKE_LINK";
    case RemovePathAndContents:
        return "REMOVE_PATH_AND_CONTENTS";
    default:
        return "UNSUPPORTED";
    }
}

uint64_t u64At(const std::string& data, size_t offset) {
    uint64_t value = 0;
    if (data.size() >= offset + sizeof value)
        std::memcpy(&value, data.data() + offset, sizeof value);
    return value;
}

// The NUL-terminated text starting at offset; offset moves past it.
std::string textAt(const std::string& data, size_t& offset) {
    if (offset >= data.size())
        return {};
    size_t end = data.find('\0', offset);
    if (end == std::string::npos)
        end = data.size();
    std::string text = data.substr(offset, end - offset);
    offset = end + 1;
    return text;
}

const char* fileType(mode_t mode) {
    if (S_ISDIR(mode))
        return "S_IFDIR";
    if (S_ISLNK(mode))
        return "S_IFLNK";
    if (S_ISCHR(mode))
        return "S_IFCHR";
    if (S_ISBLK(mode))
        return "S_IFBLK";
    if (S_ISFIFO(mode))
        return "S_IFIFO";
    if (S_ISSOCK(mode))
        return "S_IFSOCK";
    return "S_IFREG";
}

void appendPair(std::string& out, const std::string& key, const std::string& value) {
    out += key;
    out += '\0';
    out += value;
    out += '\0';
}

// A reply header whose data (size bytes) follows it directly.
void writeHeader(char* header, uint64_t number, uint64_t operation, size_t size) {
    uint64_t entire = headerSize + size, thisLength = headerSize;
    std::memcpy(header, packetMagic, sizeof packetMagic);
    std::memcpy(header + 8, &entire, 8);
    std::memcpy(header + 16, &thisLength, 8);
    std::memcpy(header + 24, &number, 8);
    std::memcpy(header + 32, &operation, 8);
}

uint64_t nanoseconds(const statx_timestamp& t) {
    return static_cast<uint64_t>(t.tv_sec) * 1000000000ull + t.tv_nsec;
}

} // namespace

AFCService::AFCService(VirtualDevice& device, const std::filesystem::path& root, RequestLog& log,
                       std::string logName, const std::string& below, std::string bundleId)
    : m_device(device), m_jail(root, below), m_log(log), m_logName(std::move(logName)),
      m_bundleId(std::move(bundleId)) {}

AFCService::~AFCService() {
    for (const auto& [handle, fd] : m_files) {
        ::close(fd);
        m_device.handleClosed();
    }
}

void AFCService::run(const Socket& socket) {
    m_socket = &socket;
    Packet packet;
    while (receiveHeader(packet)) {
        if (!handle(packet))
            break;
    }
    m_socket = nullptr;
}

bool AFCService::receiveHeader(Packet& packet) {
    char header[headerSize];
    if (!m_socket->recvExact(header, sizeof header) ||
        std::memcmp(header, packetMagic, sizeof packetMagic) != 0)
        return false;
    uint64_t entire = 0, thisLength = 0;
    std::memcpy(&entire, header + 8, 8);
    std::memcpy(&thisLength, header + 16, 8);
    std::memcpy(&packet.number, header + 24, 8);
    std::memcpy(&packet.operation, header + 32, 8);
    if (thisLength < headerSize || entire < thisLength || entire > maxPacket)
        return false;
    packet.payloadSize = entire - thisLength;
    packet.data.assign(thisLength - headerSize, '\0');
    return m_socket->recvExact(packet.data.data(), packet.data.size());
}

bool AFCService::skipPayload(const Packet& packet) {
    uint64_t left = packet.payloadSize;
    while (left > 0) {
        size_t got = m_socket->recvSome(buffer(pieceSize), std::min<uint64_t>(left, pieceSize));
        if (got == 0)
            return false;
        left -= got;
    }
    return true;
}

char* AFCService::buffer(size_t size) {
    if (m_buffer.size() < size)
        m_buffer.resize(size);
    return m_buffer.data();
}

bool AFCService::handle(Packet& packet) {
    if (!m_device.faults().passRequest(opName(packet.operation)))
        return false;
    if (m_device.faults().takeUnanswered(opName(packet.operation))) {
        m_silent = true;
        dispatch(packet);
        m_device.unplug();
        return false;
    }
    if (!dispatch(packet))
        return false;
    // Answered, then gone: the client has its reply and finds the device missing at the next one.
    if (m_device.faults().countAfcReply()) {
        m_device.unplug();
        return false;
    }
    return true;
}

bool AFCService::dispatch(Packet& packet) {
    if (packet.operation == FileWrite)
        return writeFile(packet); // reads its payload itself, so that a stall holds the sender
    if (!skipPayload(packet))
        return false;
    // An older device, or one that keeps the operation to itself.
    if (const std::optional<uint64_t> refusal =
            m_device.faults().operationRefusal(opName(packet.operation))) {
        log(opName(packet.operation), "refused");
        return sendStatus(packet.number, *refusal);
    }
    switch (packet.operation) {
    case ReadDir:
        return readDirectory(packet);
    case GetFileInfo:
        return fileInfo(packet);
    case GetDevInfo:
        return deviceInfo(packet);
    case FileOpen:
        return openFile(packet);
    case FileRead:
        return readFile(packet);
    case FileSeek:
        return seekFile(packet);
    case FileTell:
        return tellFile(packet);
    case FileSetSize:
        return setFileSize(packet);
    case FileClose:
        return closeFile(packet);
    case RemovePath:
        return removePath(packet);
    case MakeDir:
        return makeDirectory(packet);
    case RenamePath:
        return renamePath(packet);
    case MakeLink:
        return makeLink(packet);
    case RemovePathAndContents:
        return removeTree(packet);
    default:
        log(opName(packet.operation), std::to_string(packet.operation));
        return sendStatus(packet.number, OpNotSupported);
    }
}

bool AFCService::send(uint64_t number, uint64_t operation, const void* data, size_t size) {
    if (m_silent)
        return true;
    char header[headerSize];
    writeHeader(header, number, operation, size);
    return m_socket->sendAll(header, sizeof header, data, size);
}

bool AFCService::sendStatus(uint64_t number, uint64_t status) {
    return send(number, Status, &status, sizeof status);
}

bool AFCService::sendData(uint64_t number, const std::string& data) {
    return send(number, Data, data.data(), data.size());
}

void AFCService::log(const char* request, const std::string& detail) {
    m_log.add({m_device.udid(), m_logName, request, detail});
}

int AFCService::fileFor(uint64_t handle) const {
    auto it = m_files.find(handle);
    return it == m_files.end() ? -1 : it->second;
}

bool AFCService::readDirectory(const Packet& packet) {
    size_t at = 0;
    std::string raw = textAt(packet.data, at);
    std::string relative = PathJail::clamp(raw);
    log("READ_DIR", PathJail::display(relative));
    if (!m_bundleId.empty()) {
        switch (m_device.faults().containerAccess(m_bundleId)) {
        case Faults::ContainerAccess::refused:
            return sendStatus(packet.number, PermDenied);
        case Faults::ContainerAccess::empty:
            return sendData(packet.number, std::string(".\0..\0", 5));
        case Faults::ContainerAccess::open:
            break;
        }
    }

    int fd = m_jail.open(relative, O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return sendStatus(packet.number, statusForErrno(-fd));
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        int err = errno;
        ::close(fd);
        return sendStatus(packet.number, statusForErrno(err));
    }
    std::string names;
    while (dirent* entry = ::readdir(dir)) {
        names += entry->d_name;
        names += '\0';
    }
    ::closedir(dir);
    std::vector<std::string> hostile = m_device.faults().hostileEntries(raw);
    if (raw != PathJail::display(relative)) {
        auto more = m_device.faults().hostileEntries(PathJail::display(relative));
        hostile.insert(hostile.end(), more.begin(), more.end());
    }
    for (const auto& name : hostile) {
        names += name;
        names += '\0';
    }
    return sendData(packet.number, names);
}

bool AFCService::fileInfo(const Packet& packet) {
    size_t at = 0;
    std::string raw = textAt(packet.data, at);
    std::string relative = PathJail::clamp(raw);
    log("GET_FILE_INFO", raw);

    // Hostile names cannot exist on a real file system; their facts are made up.
    if (m_device.faults().isHostilePath(raw)) {
        std::string info;
        appendPair(info, "st_size", "0");
        appendPair(info, "st_blocks", "0");
        appendPair(info, "st_nlink", "1");
        appendPair(info, "st_ifmt", "S_IFREG");
        appendPair(info, "st_mtime", "0");
        appendPair(info, "st_birthtime", "0");
        return sendData(packet.number, info);
    }

    std::string leaf;
    int parent = relative.empty() ? m_jail.open("", O_PATH | O_DIRECTORY) : m_jail.openParent(relative, leaf);
    if (parent < 0)
        return sendStatus(packet.number, statusForErrno(-parent));
    struct statx st {};
    int flags = AT_SYMLINK_NOFOLLOW | (leaf.empty() ? AT_EMPTY_PATH : 0);
    int rc = ::statx(parent, leaf.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &st);
    int err = errno;
    std::string target;
    if (rc == 0 && S_ISLNK(st.stx_mode)) {
        char buffer[4096];
        ssize_t n = ::readlinkat(parent, leaf.c_str(), buffer, sizeof buffer);
        if (n > 0)
            target.assign(buffer, static_cast<size_t>(n));
    }
    ::close(parent);
    if (rc != 0)
        return sendStatus(packet.number, statusForErrno(err));

    std::string info;
    appendPair(info, "st_size", std::to_string(st.stx_size));
    appendPair(info, "st_blocks", std::to_string(st.stx_blocks));
    appendPair(info, "st_nlink", std::to_string(st.stx_nlink));
    appendPair(info, "st_ifmt", fileType(st.stx_mode));
    appendPair(info, "st_mtime", std::to_string(nanoseconds(st.stx_mtime)));
    bool hasBirth = (st.stx_mask & STATX_BTIME) != 0;
    appendPair(info, "st_birthtime", std::to_string(nanoseconds(hasBirth ? st.stx_btime : st.stx_mtime)));
    if (S_ISLNK(st.stx_mode))
        appendPair(info, "LinkTarget", target);
    return sendData(packet.number, info);
}

bool AFCService::deviceInfo(const Packet& packet) {
    log("GET_DEVINFO", "");
    DeviceDescription description = m_device.description();
    std::string model = "iPhone";
    auto type = description.values.find("ProductType");
    if (type != description.values.end() && std::holds_alternative<std::string>(type->second))
        model = std::get<std::string>(type->second);

    uint64_t total = 64ull << 30, free = 32ull << 30, block = 4096;
    int root = m_jail.open("", O_PATH | O_DIRECTORY);
    struct statvfs vfs {};
    if (root >= 0 && ::fstatvfs(root, &vfs) == 0) {
        block = vfs.f_frsize;
        total = static_cast<uint64_t>(vfs.f_blocks) * vfs.f_frsize;
        free = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    }
    if (root >= 0)
        ::close(root);
    if (auto quota = m_device.faults().quotaLeft())
        free = std::min(free, *quota);

    std::string info;
    appendPair(info, "Model", model);
    appendPair(info, "FSTotalBytes", std::to_string(total));
    appendPair(info, "FSFreeBytes", std::to_string(free));
    appendPair(info, "FSBlockSize", std::to_string(block));
    return sendData(packet.number, info);
}

bool AFCService::openFile(const Packet& packet) {
    uint64_t mode = u64At(packet.data, 0);
    size_t at = 8;
    std::string relative = PathJail::clamp(textAt(packet.data, at));
    std::string path = PathJail::display(relative);
    log("FILE_OPEN", path);

    static constexpr int openFlags[] = {0,
                                        O_RDONLY,
                                        O_RDWR | O_CREAT,
                                        O_WRONLY | O_CREAT | O_TRUNC,
                                        O_RDWR | O_CREAT | O_TRUNC,
                                        O_WRONLY | O_APPEND | O_CREAT,
                                        O_RDWR | O_APPEND | O_CREAT};
    if (mode < 1 || mode > 6 || relative.empty())
        return sendStatus(packet.number, mode < 1 || mode > 6 ? InvalidArg : ObjectIsDir);
    if (mode != 1) {
        if (auto refusal = m_device.faults().writeRefusal(path))
            return sendStatus(packet.number, *refusal);
    }
    int fd = m_jail.open(relative, openFlags[mode] | O_NOCTTY, 0644);
    if (fd < 0)
        return sendStatus(packet.number, statusForErrno(-fd));
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return sendStatus(packet.number, ObjectIsDir);
    }
    uint64_t handle = m_nextHandle++;
    m_files[handle] = fd;
    m_device.handleOpened();
    return send(packet.number, FileOpenResult, &handle, sizeof handle);
}

bool AFCService::readFile(const Packet& packet) {
    uint64_t handle = u64At(packet.data, 0);
    uint64_t length = std::min(u64At(packet.data, 8), maxRead);
    log("FILE_READ", std::to_string(handle));
    int fd = fileFor(handle);
    if (fd < 0)
        return sendStatus(packet.number, InvalidArg);

    Faults& faults = m_device.faults();
    if (auto error = faults.readError()) {
        off_t position = ::lseek(fd, 0, SEEK_CUR);
        uint64_t offset = error->first;
        if (position >= 0 && static_cast<uint64_t>(position) >= offset)
            return sendStatus(packet.number, error->second);
        if (position >= 0)
            length = std::min(length, offset - static_cast<uint64_t>(position));
    }
    if (!faults.passRead(length))
        return false;

    // The file is read straight behind the header's place, and the reply leaves in one send.
    char* frame = buffer(headerSize + length);
    char* data = frame + headerSize;
    size_t got = 0;
    while (got < length) {
        ssize_t n = ::read(fd, data + got, length - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return sendStatus(packet.number, statusForErrno(errno));
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    writeHeader(frame, packet.number, Data, got);
    if (!faults.pace(got) || !m_socket->sendAll(frame, headerSize + got))
        return false;
    if (faults.countAfcBytes(got)) {
        m_device.unplug();
        return false;
    }
    return true;
}

bool AFCService::writeFile(const Packet& packet) {
    uint64_t handle = u64At(packet.data, 0);
    Faults& faults = m_device.faults();
    if (!faults.passWrite(packet.payloadSize))
        return false;
    int fd = fileFor(handle);
    // All of the chunk or nothing: a device out of space stores none of it.
    uint64_t status = Success;
    if (fd < 0)
        status = InvalidArg;
    else if (!faults.admitWrite(packet.payloadSize))
        status = NoSpaceLeft;

    // Stored piece by piece as it arrives, so that the disk works while the client still sends;
    // after a failure the rest is read and dropped, to keep the stream in step.
    uint64_t left = packet.payloadSize, written = 0;
    while (left > 0) {
        char* piece = buffer(pieceSize);
        size_t got = m_socket->recvSome(piece, std::min<uint64_t>(left, pieceSize));
        if (got == 0)
            return false;
        left -= got;
        for (size_t stored = 0; status == Success && stored < got;) {
            ssize_t n = ::write(fd, piece + stored, got - stored);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                status = statusForErrno(n < 0 ? errno : EIO);
            else
                stored += static_cast<size_t>(n);
        }
        if (status == Success)
            written += got;
    }
    log("FILE_WRITE", std::to_string(handle));
    if (status != Success)
        return sendStatus(packet.number, status);
    if (!faults.pace(written))
        return false;
    // Stored, then gone: the client never hears about this chunk, as with a cable pulled mid-write.
    if (faults.countAfcBytes(written)) {
        m_device.unplug();
        return false;
    }
    return sendStatus(packet.number, Success);
}

bool AFCService::seekFile(const Packet& packet) {
    uint64_t handle = u64At(packet.data, 0);
    uint64_t whence = u64At(packet.data, 8);
    auto offset = static_cast<int64_t>(u64At(packet.data, 16));
    log("FILE_SEEK", std::to_string(handle));
    int fd = fileFor(handle);
    if (fd < 0 || whence > 2)
        return sendStatus(packet.number, InvalidArg);
    static constexpr int seekOrigins[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (::lseek(fd, static_cast<off_t>(offset), seekOrigins[whence]) < 0)
        return sendStatus(packet.number, statusForErrno(errno));
    return sendStatus(packet.number, Success);
}

bool AFCService::tellFile(const Packet& packet) {
    uint64_t handle = u64At(packet.data, 0);
    log("FILE_TELL", std::to_string(handle));
    int fd = fileFor(handle);
    if (fd < 0)
        return sendStatus(packet.number, InvalidArg);
    off_t position = ::lseek(fd, 0, SEEK_CUR);
    if (position < 0)
        return sendStatus(packet.number, statusForErrno(errno));
    auto value = static_cast<uint64_t>(position);
    return send(packet.number, FileTellResult, &value, sizeof value);
}

bool AFCService::setFileSize(const Packet& packet) {
    uint64_t handle = u64At(packet.data, 0);
    uint64_t size = u64At(packet.data, 8);
    log("FILE_SET_SIZE", std::to_string(handle));
    int fd = fileFor(handle);
    if (fd < 0)
        return sendStatus(packet.number, InvalidArg);
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0)
        return sendStatus(packet.number, statusForErrno(errno));
    return sendStatus(packet.number, Success);
}

bool AFCService::closeFile(const Packet& packet) {
    uint64_t handle = u64At(packet.data, 0);
    log("FILE_CLOSE", std::to_string(handle));
    auto it = m_files.find(handle);
    if (it == m_files.end())
        return sendStatus(packet.number, InvalidArg);
    ::close(it->second);
    m_files.erase(it);
    m_device.handleClosed();
    return sendStatus(packet.number, Success);
}

bool AFCService::removePath(const Packet& packet) {
    size_t at = 0;
    std::string relative = PathJail::clamp(textAt(packet.data, at));
    std::string path = PathJail::display(relative);
    log("REMOVE_PATH", path);
    if (auto refusal = m_device.faults().writeRefusal(path))
        return sendStatus(packet.number, *refusal);
    std::string leaf;
    int parent = m_jail.openParent(relative, leaf);
    if (parent < 0)
        return sendStatus(packet.number, statusForErrno(-parent));
    // unlinkat never follows a link: removing a link leaves its target alone.
    int rc = ::unlinkat(parent, leaf.c_str(), 0);
    if (rc != 0 && errno == EISDIR)
        rc = ::unlinkat(parent, leaf.c_str(), AT_REMOVEDIR);
    int err = errno;
    ::close(parent);
    return sendStatus(packet.number, rc == 0 ? Success : statusForErrno(err));
}

bool AFCService::makeDirectory(const Packet& packet) {
    size_t at = 0;
    std::string relative = PathJail::clamp(textAt(packet.data, at));
    std::string path = PathJail::display(relative);
    log("MAKE_DIR", path);
    if (auto refusal = m_device.faults().writeRefusal(path))
        return sendStatus(packet.number, *refusal);
    int rc = m_jail.makeDirectories(relative);
    return sendStatus(packet.number, rc == 0 ? Success : statusForErrno(-rc));
}

bool AFCService::renamePath(const Packet& packet) {
    size_t at = 0;
    std::string from = PathJail::clamp(textAt(packet.data, at));
    std::string to = PathJail::clamp(textAt(packet.data, at));
    log("RENAME_PATH", PathJail::display(from) + " -> " + PathJail::display(to));
    for (const auto& path : {from, to}) {
        if (auto refusal = m_device.faults().writeRefusal(PathJail::display(path)))
            return sendStatus(packet.number, *refusal);
    }
    std::string fromLeaf, toLeaf;
    int fromParent = m_jail.openParent(from, fromLeaf);
    int toParent = m_jail.openParent(to, toLeaf);
    uint64_t status = Success;
    if (fromParent < 0 || toParent < 0)
        status = statusForErrno(fromParent < 0 ? -fromParent : -toParent);
    else if (::renameat(fromParent, fromLeaf.c_str(), toParent, toLeaf.c_str()) != 0)
        status = statusForErrno(errno);
    if (fromParent >= 0)
        ::close(fromParent);
    if (toParent >= 0)
        ::close(toParent);
    return sendStatus(packet.number, status);
}

namespace {

int emptyFolder(int dir);

// Removes the entry leaf of the folder open as parent: a folder with everything below it, a link
// and never what it points at. 0 or an errno.
int removeEntry(int parent, const std::string& leaf) {
    struct stat st {};
    if (::fstatat(parent, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ::unlinkat(parent, leaf.c_str(), 0) == 0 ? 0 : errno;
    const int folder = ::openat(parent, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int failure = folder < 0 ? errno : emptyFolder(folder);
    if (failure == 0 && ::unlinkat(parent, leaf.c_str(), AT_REMOVEDIR) != 0)
        failure = errno;
    return failure;
}

// Empties the folder open as dir and closes it. 0 or an errno.
int emptyFolder(int dir) {
    DIR* stream = ::fdopendir(dir);
    if (!stream) {
        const int err = errno;
        ::close(dir);
        return err;
    }
    int failure = 0;
    while (const dirent* entry = ::readdir(stream)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && (failure = removeEntry(dir, name)) != 0)
            break;
    }
    ::closedir(stream);
    return failure;
}

} // namespace

bool AFCService::makeLink(const Packet& packet) {
    const uint64_t type = u64At(packet.data, 0);
    size_t at = sizeof type;
    const std::string target = textAt(packet.data, at);
    const std::string link = PathJail::clamp(textAt(packet.data, at));
    log("MAKE_LINK", std::to_string(type) + " " + target + " -> " + PathJail::display(link));
    if (auto refusal = m_device.faults().writeRefusal(PathJail::display(link)))
        return sendStatus(packet.number, *refusal);
    std::string linkLeaf;
    const int linkParent = m_jail.openParent(link, linkLeaf);
    if (linkParent < 0)
        return sendStatus(packet.number, statusForErrno(-linkParent));
    uint64_t status = Success;
    if (type == 1) {
        // A second name of the same file; like link(2), it never takes a name already in use.
        std::string targetLeaf;
        const std::string relative = PathJail::clamp(target);
        const int targetParent = m_jail.openParent(relative, targetLeaf);
        if (targetParent < 0)
            status = statusForErrno(-targetParent);
        else if (::linkat(targetParent, targetLeaf.c_str(), linkParent, linkLeaf.c_str(), 0) != 0)
            status = statusForErrno(errno);
        if (targetParent >= 0)
            ::close(targetParent);
    } else if (type == 2) {
        // The text is kept as given: the jail resolves it when the link is followed.
        if (::symlinkat(target.c_str(), linkParent, linkLeaf.c_str()) != 0)
            status = statusForErrno(errno);
    } else {
        status = InvalidArg;
    }
    ::close(linkParent);
    return sendStatus(packet.number, status);
}

bool AFCService::removeTree(const Packet& packet) {
    size_t at = 0;
    const std::string relative = PathJail::clamp(textAt(packet.data, at));
    const std::string path = PathJail::display(relative);
    log("REMOVE_PATH_AND_CONTENTS", path);
    if (auto refusal = m_device.faults().writeRefusal(path))
        return sendStatus(packet.number, *refusal);
    std::string leaf;
    const int parent = m_jail.openParent(relative, leaf);
    if (parent < 0)
        return sendStatus(packet.number, statusForErrno(-parent));
    const int failure = removeEntry(parent, leaf);
    ::close(parent);
    return sendStatus(packet.number, failure == 0 ? Success : statusForErrno(failure));
}

} // namespace fakemux
