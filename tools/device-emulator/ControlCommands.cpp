#include "ControlCommands.h"

#include "emulator/Emulator.h"

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
    {"lock", "", 0, 0},
    {"unlock", "", 0, 0},
    {"reset", "", 0, 0},
    {"throttle", "BYTES_PER_SECOND (0: off)", 1, 1},
    {"refuse-writes", "[STATUS [PATH_PREFIX]]", 0, 2},
    {"quota", "BYTES", 1, 1},
    {"read-error", "OFFSET [STATUS]", 1, 2},
    {"hostile", "FOLDER NAME...", 2, -1},
    {"vend-error", "BUNDLE_ID VendContainer|VendDocuments ERROR", 3, 3},
    {"browse-error", "ERROR [DESCRIPTION]", 1, 2},
    {"gate-reads", "[AFTER_BYTES]", 0, 1},
    {"release-reads", "", 0, 0},
    {"stall-writes", "", 0, 0},
    {"release-writes", "", 0, 0},
    {"unplug-after", "BYTES", 1, 1},
    {"refuse-pairing", "[ERROR (default UserDeniedPairing)]", 0, 1},
    {"hide-value", "KEY", 1, 1},
};

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

std::optional<uint64_t> parseStatus(const QString& text) {
    bool ok = false;
    uint64_t status = text.toULongLong(&ok);
    if (!ok || status == 0 || status > 255)
        return std::nullopt;
    return status;
}

} // namespace

std::optional<uint64_t> ControlCommands::parseBytes(const QString& text) {
    static constexpr struct {
        char suffix;
        int shift;
    } units[] = {{'K', 10}, {'M', 20}, {'G', 30}};
    QString digits = text.trimmed();
    int shift = 0;
    for (const auto& unit : units) {
        if (digits.endsWith(QLatin1Char(unit.suffix), Qt::CaseInsensitive)) {
            shift = unit.shift;
            digits.chop(1);
            break;
        }
    }
    bool ok = false;
    const uint64_t number = digits.toULongLong(&ok);
    if (!ok || digits.startsWith(QLatin1Char('+')) || digits.startsWith(QLatin1Char('-')) ||
        number > (UINT64_MAX >> shift))
        return std::nullopt;
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
    auto bytesAt = [&args](qsizetype i, uint64_t fallback) -> std::optional<uint64_t> {
        return i < args.size() ? parseBytes(args.at(i)) : std::optional<uint64_t>(fallback);
    };
    auto statusAt = [&args](qsizetype i, uint64_t fallback) -> std::optional<uint64_t> {
        return i < args.size() ? parseStatus(args.at(i)) : std::optional<uint64_t>(fallback);
    };
    auto badNumber = [](const QString& what) {
        return failure(QStringLiteral("%1 must be a number").arg(what));
    };

    if (command == QLatin1String("plug")) {
        device.plug();
    } else if (command == QLatin1String("unplug")) {
        device.unplug();
    } else if (command == QLatin1String("lock") || command == QLatin1String("unlock")) {
        faults.setLocked(command == QLatin1String("lock"));
    } else if (command == QLatin1String("reset")) {
        device.reset();
    } else if (command == QLatin1String("throttle")) {
        auto rate = bytesAt(0, 0);
        if (!rate)
            return badNumber(QStringLiteral("the rate"));
        faults.throttle(*rate);
    } else if (command == QLatin1String("refuse-writes")) {
        // AFC status 10 is "permission denied", what a device says to a folder it will not change.
        auto status = statusAt(0, 10);
        if (!status)
            return failure(QStringLiteral("the status must be an AFC status from 1 to 255"));
        faults.refuseWrites(*status, args.size() > 1 ? args.at(1).toStdString() : std::string("/"));
    } else if (command == QLatin1String("quota")) {
        auto bytes = bytesAt(0, 0);
        if (!bytes)
            return badNumber(QStringLiteral("the quota"));
        faults.setQuota(*bytes);
    } else if (command == QLatin1String("read-error")) {
        auto offset = bytesAt(0, 0);
        auto status = statusAt(1, 4); // 4: read error
        if (!offset || !status)
            return badNumber(QStringLiteral("the offset and status"));
        faults.readErrorAt(*offset, *status);
    } else if (command == QLatin1String("hostile")) {
        std::vector<std::string> names;
        for (const QString& name : args.mid(1))
            names.push_back(name.toStdString());
        faults.addHostileEntries(args.at(0).toStdString(), std::move(names));
    } else if (command == QLatin1String("vend-error")) {
        faults.setVendError(args.at(0).toStdString(), args.at(1).toStdString(), args.at(2).toStdString());
    } else if (command == QLatin1String("browse-error")) {
        faults.setBrowseError(args.at(0).toStdString(), args.value(1, args.at(0)).toStdString());
    } else if (command == QLatin1String("gate-reads")) {
        auto after = bytesAt(0, 0);
        if (!after)
            return badNumber(QStringLiteral("the byte count"));
        faults.gateReads(*after);
    } else if (command == QLatin1String("release-reads")) {
        faults.releaseReads();
    } else if (command == QLatin1String("stall-writes")) {
        faults.stallWrites();
    } else if (command == QLatin1String("release-writes")) {
        faults.releaseWrites();
    } else if (command == QLatin1String("refuse-pairing")) {
        faults.refusePairing(args.value(0, QStringLiteral("UserDeniedPairing")).toStdString());
    } else if (command == QLatin1String("hide-value")) {
        faults.hideValue(args.at(0).toStdString());
    } else if (command == QLatin1String("unplug-after")) {
        auto bytes = bytesAt(0, 0);
        if (!bytes)
            return badNumber(QStringLiteral("the byte count"));
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
        reply.lines.append(
            QStringLiteral("%1 \"%2\" %3%4")
                .arg(QString::fromStdString(udid), QString::fromStdString(device->description().name),
                     device->isPlugged() ? QStringLiteral("plugged") : QStringLiteral("unplugged"),
                     device->faults().locked() ? QStringLiteral(" locked") : QString()));
    }
    return reply;
}

Reply ControlCommands::help() {
    Reply reply;
    reply.lines = {QStringLiteral("list"), QStringLiteral("help")};
    for (const Usage& usage : usages)
        reply.lines.append(usageText(usage));
    return reply;
}
