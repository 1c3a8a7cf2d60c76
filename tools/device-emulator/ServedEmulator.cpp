#include "ServedEmulator.h"

#include "ControlLine.h"

#include <QDir>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>

namespace {

bool somethingListensAt(const std::string& path) {
    return fakemux::Socket::connectUnix(path).isValid();
}

// Binding replaces whatever is at the path, so look first: only a socket that nobody answers at
// any more (left by an emulator that was killed) may go. A file given by a slip of the hand, or
// the socket of an emulator that still serves, stays.
void claimSocketPath(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return;
        throw std::runtime_error("cannot use " + path + ": " + std::strerror(errno));
    }
    if (!S_ISSOCK(st.st_mode))
        throw std::runtime_error(path + " exists and is not a socket; it is left alone, give a free path");
    if (somethingListensAt(path))
        throw std::runtime_error("another emulator already listens at " + path);
}

// The media folder is made when missing, so that a fresh configuration serves an empty device.
// App containers are left as they are: a container without Documents is a case worth serving.
void prepareFolders(const fakemux::DeviceDescription& description) {
    const QString media = QString::fromStdString(description.mediaRoot.string());
    if (!QDir().mkpath(media))
        throw std::runtime_error("cannot make the media folder " + description.mediaRoot.string());
    for (const auto& app : description.apps) {
        if (!app.container.empty() && !QDir(QString::fromStdString(app.container.string())).exists())
            std::fprintf(stderr, "device-emulator: note: the container of %s does not exist: %s\n",
                         app.bundleId.c_str(), app.container.c_str());
    }
}

} // namespace

ServedEmulator::ServedEmulator(const std::vector<ConfiguredDevice>& devices,
                               std::optional<std::string> socketPath) {
    for (const auto& device : devices)
        prepareFolders(device.description);
    if (socketPath) {
        claimSocketPath(*socketPath);
        claimSocketPath(controlPathFor(*socketPath));
        m_emulator = std::make_unique<fakemux::Emulator>(fakemux::Emulator::SocketPath{*socketPath});
    } else {
        m_emulator = std::make_unique<fakemux::Emulator>();
    }
    for (const auto& device : devices) {
        fakemux::VirtualDevice& added = m_emulator->addDevice(device.description);
        added.faults().setLocked(device.locked);
        if (!device.plugged)
            added.unplug();
    }
    m_commands = std::make_unique<ControlCommands>(*m_emulator);
    m_control = std::make_unique<ControlServer>(controlPathFor(m_emulator->socketPath()),
                                                [this](const std::string& line) { return answer(line); });
}

ServedEmulator::~ServedEmulator() {
    // The control socket goes first: no command may reach an emulator that is being torn down.
    m_control.reset();
    m_emulator.reset();
}

std::string ServedEmulator::answer(const std::string& line) {
    QStringList words;
    ControlCommands::Reply reply;
    if (!ControlLine::split(QString::fromStdString(line), words))
        reply = {false, {}, QStringLiteral("a quote is left open")};
    else
        reply = m_commands->execute(words);
    QString text;
    for (const QString& info : reply.lines)
        text += info + QLatin1Char('\n');
    text += reply.ok ? QStringLiteral("ok\n") : QStringLiteral("error: ") + reply.error + QLatin1Char('\n');
    return text.toStdString();
}
