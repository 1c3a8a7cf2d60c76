#pragma once

#include "PathJail.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fakemux {

class RequestLog;
class Socket;
class VirtualDevice;

// AFC over one host folder: listings, file facts, handles with read, write and seek, and the
// folder operations, with the device's faults applied on the way. Bulk data always follows the
// 40-byte header (this_length 40), since the client reads any header data with one recv.
class AFCService {
public:
    // logName tells the request log which service spoke AFC: "afc" or "house_arrest". below, when
    // given, is the folder under root that is served, looked up inside root's jail. bundleId names
    // the app whose container is served (the container faults apply), empty for the media area.
    AFCService(VirtualDevice& device, const std::filesystem::path& root, RequestLog& log, std::string logName,
               const std::string& below = {}, std::string bundleId = {});
    ~AFCService();
    AFCService(const AFCService&) = delete;
    AFCService& operator=(const AFCService&) = delete;

    // Serves packets until the client closes the connection or the device is unplugged.
    void run(const Socket& socket);

private:
    struct Packet {
        uint64_t number = 0;
        uint64_t operation = 0;
        uint64_t payloadSize = 0;
        std::string data; // the fixed header data: paths, handles
    };

    bool receiveHeader(Packet& packet);
    // Reads and drops a payload the operation does not use.
    bool skipPayload(const Packet& packet);
    // The scratch buffer of this connection, at least size bytes: bulk data moves through it
    // without a fresh allocation per request.
    char* buffer(size_t size);
    // false: stop serving (connection lost or the device was unplugged by a fault).
    bool handle(Packet& packet);
    bool dispatch(Packet& packet);

    bool send(uint64_t number, uint64_t operation, const void* data, size_t size);
    bool sendStatus(uint64_t number, uint64_t status);
    bool sendData(uint64_t number, const std::string& data);

    bool readDirectory(const Packet& packet);
    bool fileInfo(const Packet& packet);
    bool deviceInfo(const Packet& packet);
    bool openFile(const Packet& packet);
    bool readFile(const Packet& packet);
    bool writeFile(const Packet& packet);
    bool seekFile(const Packet& packet);
    bool tellFile(const Packet& packet);
    bool setFileSize(const Packet& packet);
    bool closeFile(const Packet& packet);
    bool removePath(const Packet& packet);
    bool makeDirectory(const Packet& packet);
    bool renamePath(const Packet& packet);
    bool makeLink(const Packet& packet);
    // REMOVE_PATH_AND_CONTENTS: the item and, for a folder, everything below it.
    bool removeTree(const Packet& packet);

    // The descriptor behind a handle, or -1.
    int fileFor(uint64_t handle) const;
    void log(const char* request, const std::string& detail);

    VirtualDevice& m_device;
    PathJail m_jail;
    RequestLog& m_log;
    const std::string m_logName;
    const std::string m_bundleId;
    const Socket* m_socket = nullptr;
    std::map<uint64_t, int> m_files;
    uint64_t m_nextHandle = 1;
    std::vector<char> m_buffer;
    // Requests are carried out but no longer answered (Faults::unplugBeforeAnswering).
    bool m_silent = false;
};

} // namespace fakemux
