#pragma once

#include "platform/LeavableThread.h"
#include "platform/async/Task.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// Whether folders of this computer are there, asked away from the window's thread: a look at a
// folder on a network share whose server went silent waits for as long as the server does (on a
// hard mount, for good), and the window must go on answering meanwhile, showing what it knew.
//
// The looks run one request at a time on a thread of their own. Requests made while one waits
// are joined into one, asked once that one has answered: a silent share costs one waiting look,
// however often the window asks meanwhile. Main thread only.
class FolderLooks {
public:
    // By path: whether a folder is there (false for anything else, or nothing, or a look that
    // failed).
    using Answers = QHash<QString, bool>;

    FolderLooks();
    // Every request not answered yet ends with async::CancelledError; a look still waiting is left
    // to its thread, whose answer then goes nowhere.
    ~FolderLooks();
    FolderLooks(const FolderLooks&) = delete;
    FolderLooks& operator=(const FolderLooks&) = delete;

    // Looks at each path; the answer may hold more paths than asked for (those of requests
    // joined with this one).
    async::Task<Answers> look(QStringList paths);
    // Whether a request is being looked at now. For tests.
    bool isLooking() const;

    // What the latest answer of any looks said of path; nothing when none has answered for it
    // yet. Lets the window say whether a folder is there without looking itself.
    static std::optional<bool> latest(const QString& path);

private:
    struct Shared;

    std::shared_ptr<Shared> m_shared;
    LeavableThread m_thread;
};
