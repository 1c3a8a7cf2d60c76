#pragma once

#include <QString>

#include <optional>

// One attached iPhone or iPad as the device manager publishes it. Equality covers every field,
// so a renamed device or a changed battery level is a new value: that is how subscribers of the
// device list notice changes.
class iOSDevice {
public:
    iOSDevice(QString id, QString udid, QString name, QString model, QString productType, QString iosVersion,
              std::optional<int> batteryLevel, bool isPaired, bool isAFCConnected);

    const QString& id() const { return m_id; }
    const QString& udid() const { return m_udid; }

    const QString& name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }
    const QString& model() const { return m_model; }
    void setModel(const QString& model) { m_model = model; }
    const QString& productType() const { return m_productType; }
    void setProductType(const QString& productType) { m_productType = productType; }
    const QString& iosVersion() const { return m_iosVersion; }
    void setIosVersion(const QString& iosVersion) { m_iosVersion = iosVersion; }
    std::optional<int> batteryLevel() const { return m_batteryLevel; }
    void setBatteryLevel(std::optional<int> batteryLevel) { m_batteryLevel = batteryLevel; }
    bool isPaired() const { return m_isPaired; }
    void setIsPaired(bool isPaired) { m_isPaired = isPaired; }
    bool isAFCConnected() const { return m_isAFCConnected; }
    void setIsAFCConnected(bool isAFCConnected) { m_isAFCConnected = isAFCConnected; }

    bool operator==(const iOSDevice&) const = default;

private:
    QString m_id;
    QString m_udid;
    QString m_name;
    QString m_model;
    QString m_productType;
    QString m_iosVersion;
    std::optional<int> m_batteryLevel;
    bool m_isPaired;
    bool m_isAFCConnected;
};

size_t qHash(const iOSDevice& device, size_t seed = 0);

template <> struct std::hash<iOSDevice> {
    size_t operator()(const iOSDevice& device) const noexcept { return qHash(device); }
};
