#include "device/AFCSession.h"

void AFCSession::release() {
    if (lockdown) {
        lockdownd_client_free(lockdown);
        lockdown = nullptr;
    }
    if (afc) {
        afc_client_free(afc);
        afc = nullptr;
    }
    if (houseArrest) {
        house_arrest_client_free(houseArrest);
        houseArrest = nullptr;
    }
    if (device) {
        idevice_free(device);
        device = nullptr;
    }
}
