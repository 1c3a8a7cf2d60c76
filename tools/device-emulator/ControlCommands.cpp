#include "ControlCommands.h"

#include "emulator/Emulator.h"
#include "emulator/VirtualDevice.h"

#include <algorithm>
#include <iterator>

namespace {

using Reply = ControlCommands::Reply;

Reply failure(const QString& error) {
    return {false, {}, error};
}

struct Usage {
    const char* command;
    const char* arguments;
    int minArgs; // after the UDID
    int maxArgs; // -1: any number
};

// Every command but "list" and "help" names one device first.
constexpr Usage usages[] = {
    {"plug", "", 0, 0},
    {"unplug", "", 0, 0},
    {"replug", "", 0, 0},
    {"lock", "", 0, 0},
    {"unlock", "", 0, 0},
    {"reset", "", 0, 0},
    {"throttle", "BYTES_PER_SECOND (0: off)", 1, 1},
    {"refuse-writes", "[STATUS [PATH_PREFIX]]", 0, 2},
    {"quota", "BYTES", 1, 1},
    {"read-error", "OFFSET [STATUS]", 1, 2},
    {"hostile", "FOLDER NAME...", 2, -1},
    {"vend-error", "BUNDLE_ID VendContainer|VendDocuments ERROR", 3, 3},
    {"container-access", "BUNDLE_ID refused|empty|open", 2, 2},
    {"browse-error", "ERROR [DESCRIPTION]", 1, 2},
    {"gate-reads", "[AFTER_BYTES]", 0, 1},
    {"release-reads", "", 0, 0},
    {"stall-writes", "", 0, 0},
    {"release-writes", "", 0, 0},
    {"unplug-after", "BYTES", 1, 1},
    {"refuse-pairing", "[ERROR (default UserDeniedPairing)]", 0, 1},
    {"hide-value", "KEY", 1, 1},
};

// The one command about usbmuxd itself rather than a device.
constexpr const char* usbmuxdLeavesUsage = "usbmuxd-leaves on|off (on: gone while no device is plugged in)";

const Usage* usageOf(const QString& command) {
    for (const Usage& usage : usages) {
        if (command == QLatin1String(usage.command))
            return &usage;
    }
    return nullptr;
}

QString usageText(const Usage& usage) {
    QString text = QStringLiteral("%1 UDID").arg(QLatin1String(usage.command));
    if (*usage.arguments)
        text += QLatin1Char(' ') + QLatin1String(usage.arguments);
    return text;
}

// An AFC status a fault answers with: 1 to 255 (0 is success, and no fault).
std::optional<uint64_t> parseStatus(const QString& text, QString& why) {
    const std::optional<uint64_t> status = ControlCommands::parseBytes(text, &why);
    if (!status && why.startsWith(QLatin1String("is not a number")))
        why = QStringLiteral("is not a number; give an AFC status from 1 to 255");
    else if (status && (*status == 0 || *status > 255 || !text.trimmed().back().isDigit()))
        why = QStringLiteral("is no AFC status; give one from 1 to 255");
    else
        return status;
    return std::nullopt;
}

// What Pair may answer instead of a pairing: the refusals a device gives and the errors of a pair
// record it will not take. Anything else would be a fault no device shows.
constexpr const char* pairingErrors[] = {"UserDeniedPairing", "PairingDialogResponsePending",
                                         "PasswordProtected", "InvalidHostID",
                                         "InvalidPairRecord", "PairingProhibitedOverThisConnection"};

QString pairingErrorList() {
    QStringList names;
    for (const char* name : pairingErrors)
        names.append(QLatin1String(name));
    return names.join(QStringLiteral(", "));
}

bool isPairingError(const QString& error) {
    return std::any_of(std::begin(pairingErrors), std::end(pairingErrors),
                       [&error](const char* name) { return error == QLatin1String(name); });
}

QString appList(const fakemux::DeviceDescription& description) {
    QStringList ids;
    for (const auto& app : description.apps)
        ids.append(QString::fromStdString(app.bundleId));
    return ids.isEmpty() ? QStringLiteral("it has none")
                         : QStringLiteral("it has ") + ids.join(QStringLiteral(", "));
}

bool hasApp(fakemux::VirtualDevice& device, const QString& bundleId) {
    return fakemux::VirtualDevice::findApp(device.description(), bundleId.toStdString()) != nullptr;
}

QString noAppText(fakemux::VirtualDevice& device, const QString& bundleId) {
    return QStringLiteral("the device has no app \"%1\"; %2").arg(bundleId, appList(device.description()));
}

} // namespace

std::optional<uint64_t> ControlCommands::parseBytes(const QString& text, QString* why) {
    const auto refuse = [why](const QString& reason) -> std::optional<uint64_t> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    static constexpr struct {
        char suffix;
        int shift;
    } units[] = {{'K', 10}, {'M', 20}, {'G', 30}};
    QString digits = text.trimmed();
    if (digits.isEmpty())
        return refuse(QStringLiteral("is empty"));
    int shift = 0;
    for (const auto& unit : units) {
        if (digits.endsWith(QLatin1Char(unit.suffix), Qt::CaseInsensitive)) {
            shift = unit.shift;
            digits.chop(1);
            break;
        }
    }
    const auto allDigits = [](const QString& part) {
        return !part.isEmpty() &&
               std::all_of(part.begin(), part.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    };
    if (digits.startsWith(QLatin1Char('-')) && allDigits(digits.mid(1)))
        return refuse(QStringLiteral("cannot be negative"));
    if (!allDigits(digits)) {
        qsizetype end = 0;
        while (end < digits.size() && digits.at(end) >= u'0' && digits.at(end) <= u'9')
            ++end;
        if (end > 0 && end < digits.size() && digits.at(end) == QLatin1Char('.'))
            return refuse(QStringLiteral("must be a whole number of bytes (K, M or G may follow)"));
        if (end > 0 && end < digits.size() && shift == 0 && digits.at(end).isLetter())
            return refuse(QStringLiteral("has the unknown unit \"%1\"; use K, M or G").arg(digits.mid(end)));
        return refuse(QStringLiteral("is not a number; give digits, optionally followed by K, M or G"));
    }
    bool ok = false;
    const uint64_t number = digits.toULongLong(&ok);
    if (!ok || number > (UINT64_MAX >> shift))
        return refuse(QStringLiteral("is too large"));
    return number << shift;
}

Reply ControlCommands::execute(const QStringList& words) {
    if (words.isEmpty())
        return failure(QStringLiteral("no command; try \"help\""));
    const QString& command = words.first();
    if (command == QLatin1String("help"))
        return help();
    if (command == QLatin1String("list"))
        return list();
    if (command == QLatin1String("usbmuxd-leaves"))
        return usbmuxdLeaves(words.mid(1));

    const Usage* usage = usageOf(command);
    if (!usage)
        return failure(QStringLiteral("unknown command \"%1\"; try \"help\"").arg(command));
    const QStringList args = words.mid(2);
    if (words.size() < 2 || args.size() < usage->minArgs ||
        (usage->maxArgs >= 0 && args.size() > usage->maxArgs))
        return failure(QStringLiteral("usage: ") + usageText(*usage));
    fakemux::VirtualDevice* device = m_emulator.device(words.at(1).toStdString());
    if (!device)
        return failure(QStringLiteral("no device %1").arg(words.at(1)));
    return deviceCommand(command, *device, args);
}

Reply ControlCommands::deviceCommand(const QString& command, fakemux::VirtualDevice& device,
                                     const QStringList& args) {
    fakemux::Faults& faults = device.faults();
    // A number that is missing takes the fallback; one that is wrong says what is wrong with it.
    QString problem;
    auto bytesAt = [&args, &problem](qsizetype i, const QString& what,
                                     uint64_t fallback) -> std::optional<uint64_t> {
        if (i >= args.size())
            return fallback;
        QString why;
        auto value = parseBytes(args.at(i), &why);
        if (!value)
            problem = QStringLiteral("%1 \"%2\" %3").arg(what, args.at(i), why);
        return value;
    };
    auto statusAt = [&args, &problem](qsizetype i, uint64_t fallback) -> std::optional<uint64_t> {
        if (i >= args.size())
            return fallback;
        QString why;
        auto value = parseStatus(args.at(i), why);
        if (!value)
            problem = QStringLiteral("the status \"%1\" %2").arg(args.at(i), why);
        return value;
    };

    if (command == QLatin1String("plug")) {
        device.plug();
    } else if (command == QLatin1String("unplug")) {
        device.unplug();
    } else if (command == QLatin1String("replug")) {
        m_emulator.replug(device.udid());
    } else if (command == QLatin1String("lock") || command == QLatin1String("unlock")) {
        faults.setLocked(command == QLatin1String("lock"));
    } else if (command == QLatin1String("reset")) {
        device.reset();
    } else if (command == QLatin1String("throttle")) {
        auto rate = bytesAt(0, QStringLiteral("the rate"), 0);
        if (!rate)
            return failure(problem);
        faults.throttle(*rate);
    } else if (command == QLatin1String("refuse-writes")) {
        // AFC status 10 is "permission denied", what a device says to a folder it will not change.
        auto status = statusAt(0, 10);
        if (!status)
            return failure(problem);
        faults.refuseWrites(*status, args.size() > 1 ? args.at(1).toStdString() : std::string("/"));
    } else if (command == QLatin1String("quota")) {
        auto bytes = bytesAt(0, QStringLiteral("the quota"), 0);
        if (!bytes)
            return failure(problem);
        faults.setQuota(*bytes);
    } else if (command == QLatin1String("read-error")) {
        auto offset = bytesAt(0, QStringLiteral("the offset"), 0);
        auto status = offset ? statusAt(1, 4) : std::nullopt; // 4: read error
        if (!offset || !status)
            return failure(problem);
        faults.readErrorAt(*offset, *status);
    } else if (command == QLatin1String("hostile")) {
        std::vector<std::string> names;
        for (const QString& name : args.mid(1))
            names.push_back(name.toStdString());
        faults.addHostileEntries(args.at(0).toStdString(), std::move(names));
    } else if (command == QLatin1String("vend-error")) {
        // A fault for an app the device does not have, or for a command house_arrest does not
        // know, would never be seen: the device answers otherwise before it looks at faults.
        if (!hasApp(device, args.at(0)))
            return failure(noAppText(device, args.at(0)));
        if (args.at(1) != QLatin1String("VendContainer") && args.at(1) != QLatin1String("VendDocuments"))
            return failure(
                QStringLiteral("unknown kind \"%1\"; give VendContainer or VendDocuments").arg(args.at(1)));
        faults.setVendError(args.at(0).toStdString(), args.at(1).toStdString(), args.at(2).toStdString());
    } else if (command == QLatin1String("container-access")) {
        if (!hasApp(device, args.at(0)))
            return failure(noAppText(device, args.at(0)));
        using Access = fakemux::Faults::ContainerAccess;
        static const std::pair<const char*, Access> accesses[] = {
            {"refused", Access::refused}, {"empty", Access::empty}, {"open", Access::open}};
        const auto* chosen =
            std::find_if(std::begin(accesses), std::end(accesses),
                         [&args](const auto& entry) { return args.at(1) == QLatin1String(entry.first); });
        if (chosen == std::end(accesses))
            return failure(
                QStringLiteral("unknown access \"%1\"; give refused, empty or open").arg(args.at(1)));
        faults.setContainerAccess(args.at(0).toStdString(), chosen->second);
    } else if (command == QLatin1String("browse-error")) {
        faults.setBrowseError(args.at(0).toStdString(), args.value(1, args.at(0)).toStdString());
    } else if (command == QLatin1String("gate-reads")) {
        auto after = bytesAt(0, QStringLiteral("the byte count"), 0);
        if (!after)
            return failure(problem);
        faults.gateReads(*after);
    } else if (command == QLatin1String("release-reads")) {
        faults.releaseReads();
    } else if (command == QLatin1String("stall-writes")) {
        faults.stallWrites();
    } else if (command == QLatin1String("release-writes")) {
        faults.releaseWrites();
    } else if (command == QLatin1String("refuse-pairing")) {
        const QString error = args.value(0, QStringLiteral("UserDeniedPairing"));
        if (!isPairingError(error))
            return failure(QStringLiteral("unknown pairing error \"%1\"; give one of %2")
                               .arg(error, pairingErrorList()));
        faults.refusePairing(error.toStdString());
    } else if (command == QLatin1String("hide-value")) {
        faults.hideValue(args.at(0).toStdString());
    } else if (command == QLatin1String("unplug-after")) {
        auto bytes = bytesAt(0, QStringLiteral("the byte count"), 0);
        if (!bytes)
            return failure(problem);
        faults.unplugAfterAfcBytes(*bytes);
    }
    return {};
}

Reply ControlCommands::list() const {
    Reply reply;
    for (const auto& udid : m_emulator.udids()) {
        fakemux::VirtualDevice* device = m_emulator.device(udid);
        if (!device)
            continue;
        QString line =
            QStringLiteral("%1 \"%2\" %3%4")
                .arg(QString::fromStdString(udid), QString::fromStdString(device->description().name),
                     device->isPlugged() ? QStringLiteral("plugged") : QStringLiteral("unplugged"),
                     device->faults().locked() ? QStringLiteral(" locked") : QString());
        // A device that misbehaves for a reason set long ago should say so where one looks first.
        QStringList faults;
        for (const std::string& fault : device->faults().active())
            faults.append(QString::fromStdString(fault));
        if (!faults.isEmpty())
            line += QStringLiteral(" (") + faults.join(QStringLiteral(", ")) + QLatin1Char(')');
        reply.lines.append(line);
    }
    return reply;
}

Reply ControlCommands::usbmuxdLeaves(const QStringList& args) {
    if (args.size() != 1 || (args.first() != QLatin1String("on") && args.first() != QLatin1String("off")))
        return failure(QStringLiteral("usage: ") + QLatin1String(usbmuxdLeavesUsage));
    m_emulator.setUsbmuxdLeavesWithLastDevice(args.first() == QLatin1String("on"));
    Reply reply;
    reply.lines.append(m_emulator.isUsbmuxdRunning() ? QStringLiteral("usbmuxd running")
                                                     : QStringLiteral("usbmuxd gone"));
    return reply;
}

Reply ControlCommands::help() {
    Reply reply;
    reply.lines = {QStringLiteral("list"), QStringLiteral("help"), QLatin1String(usbmuxdLeavesUsage)};
    for (const Usage& usage : usages)
        reply.lines.append(usageText(usage));
    return reply;
}
