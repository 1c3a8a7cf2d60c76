#include "device/IMobileDeviceLibrary.h"

#include "platform/LazyLibrary.h"
#include "platform/Logger.h"

#include <libimobiledevice/afc.h>
#include <libimobiledevice/house_arrest.h>
#include <libimobiledevice/installation_proxy.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <mutex>

#ifndef ORVANTA_IMOBILEDEVICE_SONAME
#error "the build names the device library's file (ORVANTA_IMOBILEDEVICE_SONAME)"
#endif

namespace {

LazyLibrary& library() {
    static LazyLibrary instance(ORVANTA_IMOBILEDEVICE_SONAME);
    return instance;
}

// A missing library or function reads as the library's own "unknown error" for that call, so
// that each caller's usual failure path handles it; the reason is logged once.
void* lookUp(const char* name) {
    void* address = library().symbol(name);
    if (!address) {
        static std::once_flag logged;
        std::call_once(logged, [name] {
            const QString reason = library().error();
            Logger::device().error("Device library unavailable: %s",
                                   reason.isEmpty() ? QStringLiteral("%1 missing").arg(QLatin1String(name)) : reason);
        });
    }
    return address;
}

template <typename Function> Function resolved(const char* name) {
    return reinterpret_cast<Function>(lookUp(name));
}

} // namespace

bool IMobileDeviceLibrary::isLoaded() {
    return LazyLibrary::isInProcess(ORVANTA_IMOBILEDEVICE_SONAME);
}

// Each definition has the header's C declaration, so a signature that drifts from the library's
// fails to compile. The address is looked up once per function (thread-safe static). A function
// without a result gives an empty failure. Hidden: a program that also links the library (the
// emulator's tests) would otherwise export these, and the library's calls to its own functions
// would come through here.
#define ORVANTA_FORWARD(Result, name, failure, parameters, arguments)                                    \
    __attribute__((visibility("hidden"))) Result name parameters {                                     \
        using Function = Result(*) parameters;                                                         \
        static const Function real = resolved<Function>(#name);                                        \
        if (!real)                                                                                     \
            return failure;                                                                            \
        return real arguments;                                                                         \
    }

extern "C" {

ORVANTA_FORWARD(idevice_error_t, idevice_new, IDEVICE_E_UNKNOWN_ERROR, (idevice_t * device, const char* udid),
                (device, udid))
ORVANTA_FORWARD(idevice_error_t, idevice_free, IDEVICE_E_UNKNOWN_ERROR, (idevice_t device), (device))
ORVANTA_FORWARD(idevice_error_t, idevice_connection_get_fd, IDEVICE_E_UNKNOWN_ERROR,
                (idevice_connection_t connection, int* fd), (connection, fd))

ORVANTA_FORWARD(lockdownd_error_t, lockdownd_client_new_with_handshake, LOCKDOWN_E_UNKNOWN_ERROR,
                (idevice_t device, lockdownd_client_t* client, const char* label), (device, client, label))
ORVANTA_FORWARD(lockdownd_error_t, lockdownd_client_free, LOCKDOWN_E_UNKNOWN_ERROR, (lockdownd_client_t client),
                (client))
ORVANTA_FORWARD(lockdownd_error_t, lockdownd_start_service, LOCKDOWN_E_UNKNOWN_ERROR,
                (lockdownd_client_t client, const char* identifier, lockdownd_service_descriptor_t* service),
                (client, identifier, service))
ORVANTA_FORWARD(lockdownd_error_t, lockdownd_service_descriptor_free, LOCKDOWN_E_UNKNOWN_ERROR,
                (lockdownd_service_descriptor_t service), (service))

ORVANTA_FORWARD(afc_error_t, afc_client_new, AFC_E_UNKNOWN_ERROR,
                (idevice_t device, lockdownd_service_descriptor_t service, afc_client_t* client),
                (device, service, client))
ORVANTA_FORWARD(afc_error_t, afc_client_new_from_house_arrest_client, AFC_E_UNKNOWN_ERROR,
                (house_arrest_client_t client, afc_client_t* afc_client), (client, afc_client))
ORVANTA_FORWARD(afc_error_t, afc_client_free, AFC_E_UNKNOWN_ERROR, (afc_client_t client), (client))
ORVANTA_FORWARD(afc_error_t, afc_dictionary_free, AFC_E_UNKNOWN_ERROR, (char** dictionary), (dictionary))
ORVANTA_FORWARD(afc_error_t, afc_file_open, AFC_E_UNKNOWN_ERROR,
                (afc_client_t client, const char* filename, afc_file_mode_t file_mode, uint64_t* handle),
                (client, filename, file_mode, handle))
ORVANTA_FORWARD(afc_error_t, afc_file_close, AFC_E_UNKNOWN_ERROR, (afc_client_t client, uint64_t handle),
                (client, handle))
ORVANTA_FORWARD(afc_error_t, afc_file_read, AFC_E_UNKNOWN_ERROR,
                (afc_client_t client, uint64_t handle, char* data, uint32_t length, uint32_t* bytes_read),
                (client, handle, data, length, bytes_read))
ORVANTA_FORWARD(afc_error_t, afc_file_seek, AFC_E_UNKNOWN_ERROR,
                (afc_client_t client, uint64_t handle, int64_t offset, int whence),
                (client, handle, offset, whence))
ORVANTA_FORWARD(afc_error_t, afc_file_write, AFC_E_UNKNOWN_ERROR,
                (afc_client_t client, uint64_t handle, const char* data, uint32_t length, uint32_t* bytes_written),
                (client, handle, data, length, bytes_written))
ORVANTA_FORWARD(afc_error_t, afc_get_file_info, AFC_E_UNKNOWN_ERROR,
                (afc_client_t client, const char* path, char*** file_information), (client, path, file_information))
ORVANTA_FORWARD(afc_error_t, afc_read_directory, AFC_E_UNKNOWN_ERROR,
                (afc_client_t client, const char* path, char*** directory_information),
                (client, path, directory_information))
ORVANTA_FORWARD(afc_error_t, afc_make_directory, AFC_E_UNKNOWN_ERROR, (afc_client_t client, const char* path),
                (client, path))
ORVANTA_FORWARD(afc_error_t, afc_remove_path, AFC_E_UNKNOWN_ERROR, (afc_client_t client, const char* path),
                (client, path))
ORVANTA_FORWARD(afc_error_t, afc_rename_path, AFC_E_UNKNOWN_ERROR,
                (afc_client_t client, const char* from, const char* to), (client, from, to))
ORVANTA_FORWARD(afc_error_t, afc_make_link, AFC_E_UNKNOWN_ERROR,
                (afc_client_t client, afc_link_type_t type, const char* target, const char* link),
                (client, type, target, link))
ORVANTA_FORWARD(afc_error_t, afc_remove_path_and_contents, AFC_E_UNKNOWN_ERROR,
                (afc_client_t client, const char* path), (client, path))

ORVANTA_FORWARD(house_arrest_error_t, house_arrest_client_new, HOUSE_ARREST_E_UNKNOWN_ERROR,
                (idevice_t device, lockdownd_service_descriptor_t service, house_arrest_client_t* client),
                (device, service, client))
ORVANTA_FORWARD(house_arrest_error_t, house_arrest_client_free, HOUSE_ARREST_E_UNKNOWN_ERROR,
                (house_arrest_client_t client), (client))
// The tests' own device client starts the service in one call.
ORVANTA_FORWARD(house_arrest_error_t, house_arrest_client_start_service, HOUSE_ARREST_E_UNKNOWN_ERROR,
                (idevice_t device, house_arrest_client_t* client, const char* label), (device, client, label))
ORVANTA_FORWARD(house_arrest_error_t, house_arrest_send_command, HOUSE_ARREST_E_UNKNOWN_ERROR,
                (house_arrest_client_t client, const char* command, const char* appid), (client, command, appid))
ORVANTA_FORWARD(house_arrest_error_t, house_arrest_get_result, HOUSE_ARREST_E_UNKNOWN_ERROR,
                (house_arrest_client_t client, plist_t* dict), (client, dict))

ORVANTA_FORWARD(instproxy_error_t, instproxy_client_start_service, INSTPROXY_E_UNKNOWN_ERROR,
                (idevice_t device, instproxy_client_t* client, const char* label), (device, client, label))
ORVANTA_FORWARD(instproxy_error_t, instproxy_client_free, INSTPROXY_E_UNKNOWN_ERROR, (instproxy_client_t client),
                (client))
ORVANTA_FORWARD(instproxy_error_t, instproxy_browse, INSTPROXY_E_UNKNOWN_ERROR,
                (instproxy_client_t client, plist_t client_options, plist_t* result), (client, client_options, result))
ORVANTA_FORWARD(plist_t, instproxy_client_options_new, nullptr, (void), ())

// Without the library there is nothing to free: the options came from the call above, which
// made none.
ORVANTA_FORWARD(void, instproxy_client_options_free, , (plist_t client_options), (client_options))

} // extern "C"
