#include "DeviceConfig.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <set>

namespace {

using Error = DeviceConfig::Error;

[[noreturn]] void fail(const QString& where, const QString& what) {
    throw Error((where + QStringLiteral(": ") + what).toStdString());
}

void allowOnly(const QJsonObject& object, const QString& where, std::initializer_list<const char*> keys) {
    for (const QString& key : object.keys()) {
        bool known = false;
        for (const char* allowed : keys)
            known = known || key == QLatin1String(allowed);
        if (!known)
            fail(where, QStringLiteral("unknown key \"%1\"").arg(key));
    }
}

QString requiredString(const QJsonObject& object, const char* key, const QString& where) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString() || value.toString().isEmpty())
        fail(where, QStringLiteral("\"%1\" must be a non-empty string").arg(QLatin1String(key)));
    return value.toString();
}

std::optional<bool> optionalBool(const QJsonObject& object, const char* key, const QString& where) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined())
        return std::nullopt;
    if (!value.isBool())
        fail(where, QStringLiteral("\"%1\" must be true or false").arg(QLatin1String(key)));
    return value.toBool();
}

std::filesystem::path folder(const QString& text, const QDir& base) {
    return QDir::cleanPath(base.absoluteFilePath(text)).toStdString();
}

// JSON has one number type; a device has integers and reals. A whole number is an integer, and
// {"real": 2} keeps a whole real; {"data": "<base64>"} is raw bytes.
fakemux::LockdownValue lockdownValue(const QJsonValue& value, const QString& where) {
    if (value.isBool())
        return value.toBool();
    if (value.isString())
        return value.toString().toStdString();
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (std::trunc(number) == number && std::fabs(number) < 9.0e15)
            return static_cast<int64_t>(number);
        return number;
    }
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        if (object.size() == 1 && object.value(QLatin1String("real")).isDouble())
            return object.value(QLatin1String("real")).toDouble();
        if (object.size() == 1 && object.value(QLatin1String("data")).isString()) {
            auto decoded =
                QByteArray::fromBase64Encoding(object.value(QLatin1String("data")).toString().toLatin1(),
                                               QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded)
                fail(where, QStringLiteral("\"data\" is not base64"));
            fakemux::Bytes bytes;
            bytes.data.assign(decoded.decoded.begin(), decoded.decoded.end());
            return bytes;
        }
    }
    fail(where, QStringLiteral("a value is a boolean, number, string, {\"real\": n} or {\"data\": base64}"));
}

std::map<std::string, fakemux::LockdownValue> lockdownValues(const QJsonObject& owner, const char* key,
                                                             const QString& where) {
    std::map<std::string, fakemux::LockdownValue> values;
    const QJsonValue value = owner.value(QLatin1String(key));
    if (value.isUndefined())
        return values;
    if (!value.isObject())
        fail(where, QStringLiteral("\"%1\" must be an object").arg(QLatin1String(key)));
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it)
        values[it.key().toStdString()] = lockdownValue(it.value(), where + QLatin1Char('.') + it.key());
    return values;
}

fakemux::AppDescription app(const QJsonValue& value, const QString& where, const QDir& base) {
    if (!value.isObject())
        fail(where, QStringLiteral("an app must be an object"));
    const QJsonObject object = value.toObject();
    allowOnly(object, where,
              {"bundleId", "displayName", "fileSharing", "opensDocumentsInPlace", "container"});
    fakemux::AppDescription app;
    app.bundleId = requiredString(object, "bundleId", where).toStdString();
    if (object.contains(QLatin1String("displayName")))
        app.displayName = requiredString(object, "displayName", where).toStdString();
    app.fileSharingEnabled = optionalBool(object, "fileSharing", where);
    app.opensDocumentsInPlace = optionalBool(object, "opensDocumentsInPlace", where);
    if (object.contains(QLatin1String("container")))
        app.container = folder(requiredString(object, "container", where), base);
    return app;
}

ConfiguredDevice device(const QJsonValue& value, const QString& where, const QDir& base) {
    if (!value.isObject())
        fail(where, QStringLiteral("a device must be an object"));
    const QJsonObject object = value.toObject();
    allowOnly(object, where,
              {"udid", "name", "productId", "media", "values", "battery", "batteryCapacityInRoot", "plugged",
               "locked", "apps"});
    ConfiguredDevice device;
    fakemux::DeviceDescription& d = device.description;
    d.udid = requiredString(object, "udid", where).toStdString();
    if (object.contains(QLatin1String("name")))
        d.name = requiredString(object, "name", where).toStdString();
    if (object.contains(QLatin1String("productId"))) {
        const QJsonValue id = object.value(QLatin1String("productId"));
        if (!id.isDouble() || id.toDouble() < 0 || id.toDouble() > 0xffff ||
            std::trunc(id.toDouble()) != id.toDouble())
            fail(where, QStringLiteral("\"productId\" must be a USB product number"));
        d.productId = static_cast<uint32_t>(id.toDouble());
    }
    d.mediaRoot = folder(requiredString(object, "media", where), base);
    d.values = lockdownValues(object, "values", where);
    d.battery = lockdownValues(object, "battery", where);
    d.batteryCapacityInRoot = optionalBool(object, "batteryCapacityInRoot", where).value_or(false);
    device.plugged = optionalBool(object, "plugged", where).value_or(true);
    device.locked = optionalBool(object, "locked", where).value_or(false);

    const QJsonValue apps = object.value(QLatin1String("apps"));
    if (!apps.isUndefined() && !apps.isArray())
        fail(where, QStringLiteral("\"apps\" must be an array"));
    std::set<std::string> bundleIds;
    const QJsonArray list = apps.toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        auto one = app(list.at(i), where + QStringLiteral(".apps[%1]").arg(i), base);
        if (!bundleIds.insert(one.bundleId).second)
            fail(where, QStringLiteral("app \"%1\" appears twice").arg(QString::fromStdString(one.bundleId)));
        d.apps.push_back(std::move(one));
    }
    return device;
}

} // namespace

std::vector<ConfiguredDevice> DeviceConfig::parse(const QByteArray& json, const QDir& base) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        fail(QStringLiteral("offset %1").arg(error.offset), error.errorString());
    if (!document.isObject())
        fail(QStringLiteral("configuration"), QStringLiteral("must be a JSON object"));
    const QJsonObject root = document.object();
    allowOnly(root, QStringLiteral("configuration"), {"devices"});
    const QJsonValue devices = root.value(QLatin1String("devices"));
    if (!devices.isArray())
        fail(QStringLiteral("configuration"), QStringLiteral("\"devices\" must be an array"));

    std::vector<ConfiguredDevice> result;
    std::set<std::string> udids;
    const QJsonArray list = devices.toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QString where = QStringLiteral("devices[%1]").arg(i);
        ConfiguredDevice one = device(list.at(i), where, base);
        if (!udids.insert(one.description.udid).second)
            fail(where,
                 QStringLiteral("UDID %1 appears twice").arg(QString::fromStdString(one.description.udid)));
        result.push_back(std::move(one));
    }
    return result;
}

std::vector<ConfiguredDevice> DeviceConfig::load(const QString& path, const QDir& base) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(path, file.errorString());
    try {
        return parse(file.readAll(), base);
    } catch (const Error& e) {
        fail(path, QString::fromStdString(e.what()));
    }
}
