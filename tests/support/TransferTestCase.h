#pragma once

#include "DeviceTestCase.h"

#include "device/AFCBridge.h"
#include "models/FileItem.h"
#include "models/Transfer.h"
#include "platform/ManualUiTimerSource.h"
#include "platform/NotificationCenter.h"
#include "platform/URL.h"
#include "platform/async/ManualClock.h"
#include "services/FileSystemProvider.h"
#include "transfer/ConflictPrompter.h"
#include "transfer/TransferManager.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// Answers name clashes from a script and records every question. With no answer left it stops.
class ScriptedPrompter : public ConflictPrompter {
public:
    QStringList questions;
    QList<ConflictAnswer> answers;
    // Runs when a question comes, before it is answered.
    std::function<void()> onAsk;

    async::Task<ConflictAnswer> ask(QString itemName, std::stop_token) override;
};

ConflictAnswer answer(ConflictResolution resolution, bool applyToAll = false);

// Every file and folder below root as "relative/path size" (folders end in "/"), hidden ones
// included: a copy's temporary file must not survive it.
QStringList treeOf(const QString& root);

// Every file below root with its content, hidden ones included; with folders, each folder too,
// as its path and a final "/", with no content.
QMap<QString, QByteArray> contentsOf(const QString& root, bool folders = false);

// Every item below root, hidden ones included, sorted: a folder as "path/", a file as
// "path=content".
QStringList itemsIn(const QString& root);

// Base of the tests of the transfer engine: a device in the emulator with a media folder and one
// app, a folder standing for this computer, and a transfer manager between them whose clashes a
// script answers. Subclasses call setUpTransfers() and tearDownTransfers() from init() and
// cleanup(), and setUpTransferTestCase() from initTestCase().
class TransferTestCase : public DeviceTestCase {
    Q_OBJECT

public:
    enum class Side { mac, device };
    static inline const QString udid = QStringLiteral("00008110-001A2B3C4D5E6F70");
    static inline const QString appID = QStringLiteral("com.example.notes");

protected:
    // Reports, the journal of leftovers and settings go below temporary folders of this process.
    static void setUpTransferTestCase();
    void setUpTransfers();
    void tearDownTransfers();

    QString root(Side side) const { return side == Side::mac ? m_mac : m_media; }
    URL location(Side side, const QString& relative) const;
    FileItem item(Side side, const QString& relative) const;
    // Starts, launches and awaits a transfer; its finished record.
    Transfer transfer(const QList<FileItem>& sources, const URL& destination);
    Transfer launched(const QList<FileItem>& sources, const URL& destination);
    Transfer finished(QUuid id);
    // Runs the loop until the device (the test's own unless given) holds a read of a running copy.
    bool readHeld(fakemux::VirtualDevice* device = nullptr);
    // Runs the loop until the device (the test's own unless given) stalls a write of a running copy.
    bool writeStalled(fakemux::VirtualDevice* device = nullptr);

    fakemux::VirtualDevice* m_device = nullptr;
    QString m_mac;
    QString m_media;
    QString m_app;
    async::ManualClock m_clock;
    // The manager's timers: a cancelled transfer's device request is cut only once a test
    // advances them past the grace it is given.
    ManualUiTimerSource m_timers;
    NotificationCenter m_notifications;
    std::shared_ptr<AFCBridge> m_bridge;
    std::shared_ptr<FileSystemProvider> m_provider;
    std::shared_ptr<ScriptedPrompter> m_prompter;
    std::unique_ptr<TransferManager> m_manager;
};

Q_DECLARE_METATYPE(TransferTestCase::Side)
Q_DECLARE_METATYPE(ConflictAnswer)
