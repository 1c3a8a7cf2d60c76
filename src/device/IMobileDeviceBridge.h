#pragma once

#include "platform/async/Task.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <stop_token>

class ProcessRunner;

// Typed device queries over the three libimobiledevice tools: which devices are attached
// (`idevice_id`), what a device reports about itself (`ideviceinfo`) and the name its owner gave
// it (`idevicename`). Finding, starting and timing out the tools is the runner's job; this class
// only chooses the arguments and parses what the tools print.
//
// Failures of the runner (executableNotFound, timeout, a launch error, cancellation) reach the
// caller unchanged and unlogged. Of its own errors only BridgeError::deviceNotFound is raised.
// Each query keeps the runner alive until its tool has ended, so the bridge may go first.
class IMobileDeviceBridge {
public:
    static constexpr double queryTimeout = 30.0;

    explicit IMobileDeviceBridge(std::shared_ptr<ProcessRunner> runner);

    const std::shared_ptr<ProcessRunner>& runner() const { return m_runner; }

    // The UDIDs `idevice_id -l` prints, in its order; empty (and logged) when the tool fails.
    async::Task<QStringList> listDeviceUDIDs(std::stop_token token = {});
    // As listDeviceUDIDs, but a tool that runs and reports failure fails with
    // ProcessRunnerError::nonZeroExit instead of answering "no devices": the device monitoring
    // must not take a hiccup of usbmuxd for every device unplugged at once.
    async::Task<QStringList> listDeviceUDIDsOrFail(std::stop_token token = {});
    // The "Key: value" lines of `ideviceinfo -u udid`. Fails with deviceNotFound when the tool
    // fails.
    async::Task<QMap<QString, QString>> deviceInfo(QString udid, std::stop_token token = {});
    // The "Key: value" lines of `ideviceinfo -u udid -q domain`: the values a device keeps in one
    // domain rather than in its default answer (the battery's, for one); without a domain, that default answer. Fails as deviceInfo.
    async::Task<QMap<QString, QString>> domainInfo(QString udid, QString domain, std::stop_token token = {});
    // The name `idevicename -u udid` prints, trimmed; "Unknown Device" (logged) when the tool fails.
    async::Task<QString> deviceName(QString udid, std::stop_token token = {});

    // What the queries make of a tool's decoded output. The output comes from a device that may be
    // broken or hostile, so each turns any text into a value.
    // One UDID per line that holds anything but blanks, without its surrounding blanks.
    static QStringList parseDeviceUDIDs(const QString& output);
    // Lines that are not "key: value" (array headers such as "Key[2]:", a key with nothing after
    // its colon, text without a colon) are skipped; a later key replaces an earlier one.
    static QMap<QString, QString> parseDeviceInfo(const QString& output);
    static QString parseDeviceName(const QString& output);

private:
    std::shared_ptr<ProcessRunner> m_runner;
};
