#pragma once

#include "device/AFCClientHandle.h"

#include <QString>

#include <cstdint>
#include <stop_token>

// One open file on the device, closed when it goes out of scope so that no failure path leaves a
// handle open on the device. Blocking; executor only.
class AFCDeviceFile {
public:
    // rewrite opens a file for writing as it is, for a copy that goes on where it was.
    enum class Mode { read, write, rewrite };

    // Opens for reading, or for writing (created, emptied; or created, kept). Throws AFCError
    // fileOpenFailed("afc_file_open error N for " + shownPath), "afc_file_open(WR) ..." for a
    // write; shownPath defaults to path (a copy names its target, not its temporary file).
    AFCDeviceFile(afc_client_t afc, const QString& path, Mode mode, const QString& shownPath = {});
    ~AFCDeviceFile() { close(); }
    AFCDeviceFile(const AFCDeviceFile&) = delete;
    AFCDeviceFile& operator=(const AFCDeviceFile&) = delete;

    // Up to length bytes; 0 at the end of the file. Throws AFCError fileReadFailed.
    uint32_t read(char* buffer, uint32_t length);
    // Moves the position to offset from the start. Throws AFCError fileReadFailed, writeFailed for
    // a file opened for writing.
    void seek(uint64_t offset);
    // Writes data from done on to length, in requests the connection's socket takes whole
    // (AFCSendRoom), and counts in done each piece the device has confirmed. Throws AFCError
    // writeFailed (done then tells how far the device confirmed), async::CancelledError while it
    // waits for room. The library counts bytes sent rather than stored, so only its result code
    // is trusted.
    void writeAll(const char* data, uint32_t length, uint32_t& done, std::stop_token token = {});
    // Closes the file; the library's result (0 on success, or when already closed). A device may
    // report a failed write only here, so a copy must not pass over it.
    int close();
    // Forgets the handle without a request: for a file whose client has already been freed.
    void abandon() { m_open = false; }

private:
    afc_client_t m_afc;
    // The connection's socket; -1 when it cannot be found (writes then go as they come).
    int m_socket = -1;
    bool m_writing = false;
    uint64_t m_handle = 0;
    bool m_open = false;
};
