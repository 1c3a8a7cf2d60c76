#pragma once

// The device client library (libimobiledevice) is opened when the first device is spoken to,
// not at start-up: it brings a TLS stack the first window has no use for. Its functions are
// called by their usual names; the definitions here forward each call to the library.
namespace IMobileDeviceLibrary {

// Whether the library has been opened in this process.
bool isLoaded();

} // namespace IMobileDeviceLibrary
