#pragma once

#include "ControlCommands.h"
#include "ControlServer.h"
#include "DeviceConfig.h"
#include "emulator/Emulator.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// The emulator as the stand-alone tool runs it: the configured devices behind a usbmux socket, and
// a control socket beside it ("<mux socket>.control") that carries out commands while it runs.
class ServedEmulator {
public:
    // Listens on socketPath, or in a new private folder of its own when none is given. Throws
    // std::exception with a readable message when a socket cannot be made, or when another
    // emulator already answers at socketPath (replacing its socket would cut it off unnoticed).
    ServedEmulator(const std::vector<ConfiguredDevice>& devices, std::optional<std::string> socketPath);
    // Stops both sockets and removes them (and the folder, when it was the emulator's own).
    ~ServedEmulator();
    ServedEmulator(const ServedEmulator&) = delete;
    ServedEmulator& operator=(const ServedEmulator&) = delete;

    std::string socketAddress() const { return m_emulator->socketAddress(); }
    std::string controlPath() const { return m_control->path(); }
    static std::string controlPathFor(const std::string& socketPath) { return socketPath + ".control"; }

private:
    std::string answer(const std::string& line);

    std::unique_ptr<fakemux::Emulator> m_emulator;
    std::unique_ptr<ControlCommands> m_commands;
    std::unique_ptr<ControlServer> m_control;
};
