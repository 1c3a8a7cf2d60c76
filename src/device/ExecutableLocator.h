#pragma once

#include "platform/URL.h"

#include <QString>
#include <QStringList>

#include <optional>

// Finds a helper tool by name: in the application's own helpers folder first, then in the folders
// where a developer's package manager puts the tools, then through `which`. Plain blocking code:
// the ProcessRunner runs it on its executor, where waiting for `which` holds up nothing else.
class ExecutableLocator {
public:
    // "/opt/homebrew/bin/", "/usr/local/bin/", "/usr/bin/", "/usr/sbin/", searched in this order.
    static QStringList defaultDevelopmentFolders();

    explicit ExecutableLocator(URL helpersURL, QStringList developmentFolders = defaultDevelopmentFolders());

    const URL& helpersURL() const { return m_helpersURL; }

    // The first hit of: the helpers folder, the development folders (logged, since a release
    // should not depend on them), `which`. Nothing when no place has it; never throws.
    std::optional<URL> resolveExecutable(const QString& name) const;

    // The path `which` prints for name, unchecked. Nothing when `which` exits non-zero or prints
    // only blanks. Throws async::ProcessStartError when `which` cannot be launched.
    std::optional<URL> findWithWhich(const QString& name) const;

private:
    URL m_helpersURL;
    QStringList m_developmentFolders;
};
