#pragma once

#include <libimobiledevice/afc.h>
#include <libimobiledevice/house_arrest.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

// The library handles of one open session. A stored media session holds device and afc; an app
// session also holds houseArrest; lockdown is only ever set while a session is being opened.
// Handles are created, used and freed on the owning bridge's executor thread only.
struct AFCSession {
    idevice_t device = nullptr;
    lockdownd_client_t lockdown = nullptr;
    afc_client_t afc = nullptr;
    house_arrest_client_t houseArrest = nullptr;

    // Frees what is present: the AFC client before the house_arrest client it was made from,
    // the device last. Leaves every handle empty.
    void release();
};
