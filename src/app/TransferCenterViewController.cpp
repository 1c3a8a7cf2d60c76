#include "app/TransferCenterViewController.h"

#include "app/TransferCenterModel.h"
#include "device/AFCComponents.h"
#include "platform/Logger.h"
#include "transfer/TransferManager.h"
#include "uikit/AlertPresenter.h"
#include "uikit/Colours.h"
#include "uikit/Workspace.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// Holds the manager weakly: a retry of a window that outlived its manager does nothing. The
// strong reference is dropped before the wait, and the retry itself stops touching a manager
// that has gone.
async::Task<void> retryEntry(std::weak_ptr<TransferManager> weakManager, TransferHistoryEntry entry,
                             std::stop_token) {
    std::shared_ptr<TransferManager> manager = weakManager.lock();
    if (!manager)
        co_return;
    async::Task<void> retry = manager->retryTransfer(entry);
    manager.reset();
    co_await retry;
}

QPushButton* makeButton(const QString& title, const QString& objectName) {
    auto* button = new QPushButton(title);
    button->setObjectName(objectName);
    // Return must not press whichever button last had the focus.
    button->setAutoDefault(false);
    return button;
}

} // namespace

TransferCenterViewController::TransferCenterViewController(std::shared_ptr<TransferManager> transferManager,
                                                           QWidget* parent)
    : QWidget(parent), revealInFileManager(Workspace::reveal), openWithDesktop(Workspace::open),
      m_transferManager(std::move(transferManager)) {
    setupViews();
    // The history is published on every finish and clear; the window keeps following it while
    // it is closed, so it opens current.
    QPointer<TransferCenterViewController> self(this);
    m_subscription = m_transferManager->transferHistory.subscribe(
        [self](const QList<TransferHistoryEntry>& history) {
            if (self)
                self->updateSummary(history);
        },
        Delivery::Queued);
    updateSummary(m_transferManager->transferHistory.value());
}

TransferCenterViewController::~TransferCenterViewController() {
    m_subscription.cancel();
    m_devicesSubscription.cancel();
    for (const auto& task : std::as_const(m_retryTasks))
        task.cancel();
    for (const auto& task : std::as_const(m_alertTasks))
        task.cancel();
}

void TransferCenterViewController::setAlertPresenter(std::shared_ptr<AlertPresenter> presenter) {
    m_alertPresenter = std::move(presenter);
}

void TransferCenterViewController::followDevices(Observable<QList<iOSDevice>>& devices) {
    QPointer<TransferCenterViewController> self(this);
    m_devicesSubscription = devices.subscribe(
        [self](const QList<iOSDevice>& connected) {
            if (self)
                self->devicesChanged(connected);
        },
        Delivery::Queued);
    devicesChanged(devices.value());
}

void TransferCenterViewController::devicesChanged(const QList<iOSDevice>& devices) {
    m_connectedUDIDs.clear();
    for (const iOSDevice& device : devices) {
        m_connectedUDIDs.insert(device.udid());
        m_deviceNames.insert(device.udid(), device.name().isEmpty() ? device.model() : device.name());
    }
    m_model->setDeviceNames(m_deviceNames);
}

void TransferCenterViewController::setupViews() {
    m_model = new TransferCenterModel(this);
    m_tableView = new QTableView;
    m_tableView->setObjectName(QStringLiteral("transferHistoryTable"));
    m_tableView->setModel(m_model);
    m_tableView->setAlternatingRowColors(true);
    m_tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tableView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tableView->setTextElideMode(Qt::ElideMiddle);
    m_tableView->setWordWrap(false);
    m_tableView->setShowGrid(false);
    m_tableView->verticalHeader()->hide();
    m_tableView->horizontalHeader()->setHighlightSections(false);
    // The columns' widths add up to more than the table has inside the window's 900 px and its
    // margins: the destination, last, takes what is left, so nothing scrolls sideways. Given a
    // width of its own it would never shrink below it.
    const auto& columns = TransferCenterModel::columns();
    for (int column = 0; column + 1 < columns.size(); ++column)
        m_tableView->setColumnWidth(column, columns.at(column).width);
    m_tableView->horizontalHeader()->setStretchLastSection(true);
    connect(m_tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TransferCenterViewController::updateButtons);

    m_summaryLabel = new QLabel(summaryText(0));
    m_summaryLabel->setObjectName(QStringLiteral("summaryLabel"));
    Colours::setLabelColour(m_summaryLabel, Colours::Label::secondary);

    m_revealButton = makeButton(QStringLiteral("Reveal Destination"), QStringLiteral("revealButton"));
    m_retryButton = makeButton(QStringLiteral("Retry"), QStringLiteral("retryButton"));
    m_reportButton = makeButton(QStringLiteral("Open Report"), QStringLiteral("reportButton"));
    m_clearButton = makeButton(QStringLiteral("Clear History"), QStringLiteral("clearButton"));
    connect(m_revealButton, &QPushButton::clicked, this, &TransferCenterViewController::revealSelection);
    connect(m_retryButton, &QPushButton::clicked, this, &TransferCenterViewController::retrySelection);
    connect(m_reportButton, &QPushButton::clicked, this, &TransferCenterViewController::openReport);
    connect(m_clearButton, &QPushButton::clicked, this, &TransferCenterViewController::clearHistory);

    auto* bar = new QHBoxLayout;
    bar->setSpacing(8);
    bar->addWidget(m_summaryLabel, 0, Qt::AlignVCenter);
    bar->addStretch(1);
    for (QPushButton* button : {m_revealButton, m_retryButton, m_reportButton, m_clearButton})
        bar->addWidget(button, 0, Qt::AlignVCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);
    layout->addWidget(m_tableView, 1);
    layout->addLayout(bar);
}

std::optional<TransferHistoryEntry> TransferCenterViewController::selectedEntry() const {
    const QModelIndexList rows = m_tableView->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    const int row = rows.first().row();
    if (row < 0 || row >= m_model->entries().size())
        return std::nullopt;
    return m_model->entries().at(row);
}

void TransferCenterViewController::updateSummary(const QList<TransferHistoryEntry>& history) {
    // A reset drops the table's selection; the entry the user picked is found again by its id,
    // also when a new transfer pushed it one row down.
    const std::optional<TransferHistoryEntry> previous = selectedEntry();
    m_model->setEntries(history);
    if (previous) {
        const int row = m_model->rowOf(previous->id());
        if (row >= 0) {
            const QSignalBlocker blocker(m_tableView->selectionModel());
            m_tableView->selectionModel()->setCurrentIndex(
                m_model->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        }
    }
    updateButtons();
    m_summaryLabel->setText(summaryText(history.size()));
}

void TransferCenterViewController::updateButtons() {
    const std::optional<TransferHistoryEntry> entry = selectedEntry();
    m_revealButton->setEnabled(entry && URL::fromString(entry->destinationURLString()));
    m_retryButton->setEnabled(entry.has_value());
    m_reportButton->setEnabled(entry && entry->reportURLString() &&
                               URL::fromString(*entry->reportURLString()));
    m_clearButton->setEnabled(!m_model->entries().isEmpty());
}

QString TransferCenterViewController::summaryText(qsizetype count) {
    if (count == 0)
        return QStringLiteral("No transfer history yet");
    return count == 1 ? QStringLiteral("1 transfer saved") : QStringLiteral("%1 transfers saved").arg(count);
}

void TransferCenterViewController::revealSelection() {
    const std::optional<TransferHistoryEntry> entry = selectedEntry();
    if (!entry)
        return;
    const std::optional<URL> url = URL::fromString(entry->destinationURLString());
    if (!url)
        return;
    // No program on the desktop can show a folder on the phone; the main window can.
    if (url->scheme() == u"afc") {
        showDeviceDestination(*url);
        return;
    }
    if (!revealInFileManager)
        return;
    QPointer<TransferCenterViewController> self(this);
    const QString path = url->path();
    revealInFileManager(*url, [self, path] {
        if (self)
            self->tell(
                Workspace::revealFailedAlert(QStringLiteral("The destination could not be shown."), path));
    });
}

void TransferCenterViewController::showDeviceDestination(const URL& url) {
    const std::optional<AFCComponents> components = afcComponents(url);
    if (components && m_connectedUDIDs.contains(components->udid)) {
        if (showInMainWindow)
            showInMainWindow(url);
        return;
    }
    Logger::ui().error("Cannot show %s: its device is not connected", url.absoluteString());
    const std::optional<QString> name =
        components && m_deviceNames.contains(components->udid)
            ? std::optional<QString>(m_deviceNames.value(components->udid))
            : std::nullopt;
    tellFailure(QStringLiteral("The destination could not be shown."),
                name ? QStringLiteral("\u201C%1\u201D is not connected. Connect it and try again.").arg(*name)
                     : QStringLiteral("Its device is not connected. Connect it and try again."));
}

void TransferCenterViewController::tellFailure(const QString& message, const QString& informative) {
    tell(warningAlert(message, informative));
}

void TransferCenterViewController::tell(const AlertRequest& alert) {
    Logger::ui().error("%s %s", alert.message, alert.informative);
    if (!m_alertPresenter)
        return;
    m_alertTasks.removeIf([](const async::TaskHandle<void>& task) { return task.isFinished(); });
    m_alertTasks.append(presentAlert(m_alertPresenter, window(), alert));
}

void TransferCenterViewController::retrySelection() {
    const std::optional<TransferHistoryEntry> entry = selectedEntry();
    if (!entry)
        return;
    std::weak_ptr<TransferManager> manager = m_transferManager;
    TransferHistoryEntry copy = *entry;
    m_retryTasks.removeIf([](const async::TaskHandle<void>& task) { return task.isFinished(); });
    m_retryTasks.append(
        async::spawn([manager, copy](std::stop_token token) { return retryEntry(manager, copy, token); }));
}

void TransferCenterViewController::openReport() {
    const std::optional<TransferHistoryEntry> entry = selectedEntry();
    if (!entry || !entry->reportURLString())
        return;
    const std::optional<URL> url = URL::fromString(*entry->reportURLString());
    if (url && openWithDesktop && !openWithDesktop(*url))
        tell(Workspace::openFailedAlert(QStringLiteral("The report could not be opened."),
                                        url->lastPathComponent()));
}

void TransferCenterViewController::clearHistory() {
    // Without asking, as before; the reports stay on disk, only the list of them goes.
    m_transferManager->clearHistory();
}
