#include "models/iOSDevice.h"

#include <QHashFunctions>

iOSDevice::iOSDevice(QString id, QString udid, QString name, QString model, QString productType,
                     QString iosVersion, std::optional<int> batteryLevel, bool isPaired, bool isAFCConnected)
    : m_id(std::move(id)), m_udid(std::move(udid)), m_name(std::move(name)), m_model(std::move(model)),
      m_productType(std::move(productType)), m_iosVersion(std::move(iosVersion)),
      m_batteryLevel(batteryLevel), m_isPaired(isPaired), m_isAFCConnected(isAFCConnected) {}

size_t qHash(const iOSDevice& device, size_t seed) {
    // The battery level hashes as a presence flag and then its value, as equality compares it.
    return qHashMulti(seed, device.id(), device.udid(), device.name(), device.model(), device.productType(),
                      device.iosVersion(), device.batteryLevel().has_value(),
                      device.batteryLevel().value_or(0), device.isPaired(), device.isAFCConnected());
}
