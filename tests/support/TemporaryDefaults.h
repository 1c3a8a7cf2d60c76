#pragma once

#include "platform/UserDefaults.h"

#include <QTemporaryDir>

#include <memory>

// A store of the user's defaults in a folder of its own, for tests of the classes that keep their
// lists there. reopen() reads the file back as the next launch of the app would.
class TemporaryDefaults {
public:
    TemporaryDefaults() : m_store(std::make_unique<UserDefaults>(filePath())) {}

    UserDefaults& store() { return *m_store; }
    UserDefaults& reopen() {
        m_store->flush();
        m_store = std::make_unique<UserDefaults>(filePath());
        return *m_store;
    }

private:
    QString filePath() const { return m_dir.filePath(QStringLiteral("defaults.plist")); }

    QTemporaryDir m_dir;
    std::unique_ptr<UserDefaults> m_store;
};
