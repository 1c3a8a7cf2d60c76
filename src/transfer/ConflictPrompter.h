#pragma once

#include "platform/async/Task.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <stop_token>

// What the user may answer when an item to copy meets an existing item of the same name.
enum class ConflictResolution { replace, keepBoth, stop };

// The answer a transfer keeps once the user ticked "Apply to all conflicts in this transfer".
struct ConflictPolicy {
    std::optional<ConflictResolution> applyToAll;
};

struct ConflictAnswer {
    ConflictResolution resolution = ConflictResolution::stop;
    // Whether the check box was ticked when the question closed.
    bool applyToAll = false;

    bool operator==(const ConflictAnswer&) const = default;
};

// Puts a name clash to the user and awaits the answer, without a nested event loop. The engine
// only knows this interface: the window's alert answers it in the application, a scripted fake in
// the tests.
class ConflictPrompter {
public:
    // The words of the question.
    static QString messageText(const QString& itemName) {
        return QLatin1Char('"') + itemName + QStringLiteral("\" already exists.");
    }
    static QString informativeText() {
        return QStringLiteral("Do you want to replace it, keep both items, or stop this transfer?");
    }
    static QString checkBoxTitle() { return QStringLiteral("Apply to all conflicts in this transfer"); }
    // In this order: the first answers replace, the second keepBoth, anything else stop.
    static QStringList buttonTitles() {
        return {QStringLiteral("Replace"), QStringLiteral("Keep Both"), QStringLiteral("Stop")};
    }

    virtual ~ConflictPrompter() = default;

    // Asks about itemName. A stopped token withdraws the question with async::CancelledError.
    virtual async::Task<ConflictAnswer> ask(QString itemName, std::stop_token token) = 0;
};
