#pragma once

#include "models/FileItem.h"
#include "models/TransferError.h"
#include "models/TransferProgress.h"
#include "models/TransferReportEntry.h"
#include "models/TransferState.h"
#include "models/TransferVerificationSummary.h"
#include "platform/Date.h"
#include "platform/URL.h"

#include <QList>
#include <QUuid>

#include <optional>

// One copy or move job. The transfer manager creates and updates it; identity is `id` (the
// record has no equality of its own). id, sources, destination and startedAt never change.
struct Transfer {
    QUuid id;
    QList<FileItem> sources;
    URL destination;
    TransferState state = TransferState::queued;
    TransferProgress progress;
    std::optional<TransferError> error;
    Date startedAt;
    std::optional<Date> completedAt;
    TransferVerificationSummary verificationSummary;
    QList<TransferReportEntry> reportEntries;
    std::optional<URL> reportURL;
};
