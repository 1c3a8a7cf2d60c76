#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace fakemux {
class Emulator;
class VirtualDevice;
} // namespace fakemux

// The commands a developer gives a running emulator: plug and unplug devices, lock them, slow
// them down and switch on the faults of the emulator library. Each command is a list of words
// ("unplug", udid) and answers with lines of information and whether it worked.
class ControlCommands {
public:
    struct Reply {
        bool ok = true;
        QStringList lines; // information, such as the device list
        QString error;     // why it failed, when !ok
    };

    explicit ControlCommands(fakemux::Emulator& emulator) : m_emulator(emulator) {}

    Reply execute(const QStringList& words);

    // "1048576", "512K", "30M", "1G" (binary units); nullopt when it is no byte count, with what
    // is wrong with it in why ("cannot be negative", "has the unknown unit X").
    static std::optional<uint64_t> parseBytes(const QString& text, QString* why = nullptr);

private:
    Reply deviceCommand(const QString& command, fakemux::VirtualDevice& device, const QStringList& args);
    Reply list() const;
    // Whether the emulated usbmuxd exits with the last device and comes back with the next.
    Reply usbmuxdLeaves(const QStringList& args);
    static Reply help();

    fakemux::Emulator& m_emulator;
};
