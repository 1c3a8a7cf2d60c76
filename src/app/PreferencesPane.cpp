#include "app/PreferencesPane.h"

#include "platform/ArchivedURL.h"
#include "platform/Logger.h"
#include "services/PreferencesViewController.h"
#include "uikit/FolderChooser.h"
#include "uikit/Fonts.h"
#include "uikit/PathControl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QRegularExpression>
#include <QSet>
#include <QVBoxLayout>

namespace {

constexpr int pathControlWidth = 280;
constexpr int windowWidth = 480;
constexpr int windowHeight = 520;
constexpr int margin = 20;
constexpr int columnSpacing = 12;
constexpr qint64 mebibyte = 1024 * 1024;

QLabel* rowLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setFont(Fonts::system(13));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

async::Task<void> runChooser(std::shared_ptr<FolderChooser> chooser, QPointer<QWidget> parent,
                             std::optional<URL> start, std::function<void(URL)> completion,
                             std::stop_token token) {
    FolderChooser::Request request;
    request.prompt = QStringLiteral("Select");
    request.directory = start;
    std::optional<URL> chosen = co_await chooser->choose(request, parent.data(), token);
    if (!parent || token.stop_requested() || !chosen)
        co_return;
    completion(*chosen);
}

} // namespace

const QList<PreferencesPane::ChunkSizeChoice>& PreferencesPane::chunkSizeChoices() {
    static const QList<ChunkSizeChoice> table{
        {"1 MB", 1 * mebibyte},     {"4 MB", 4 * mebibyte},   {"8 MB", 8 * mebibyte},
        {"16 MB", 16 * mebibyte},   {"32 MB", 32 * mebibyte}, {"64 MB", 64 * mebibyte},
        {"128 MB", 128 * mebibyte},
    };
    return table;
}

PreferencesPane::PreferencesPane(std::shared_ptr<FolderChooser> chooser, QWidget* parent)
    : QWidget(parent), m_chooser(chooser ? std::move(chooser) : std::make_shared<DialogFolderChooser>()) {
    loadView();
    using P = PreferencesViewController;
    static const QSet<QString> shownKeys{P::defaultDestinationKey,
                                         P::autoIngestDestinationKey,
                                         P::autoIngestEnabledKey,
                                         P::verifyTransfersKey,
                                         P::autoIngestIncludeDeviceFolderKey,
                                         P::autoIngestIncludeDateFolderKey,
                                         P::preserveTimestampsKey,
                                         P::enableThumbnailsKey,
                                         P::showHiddenFilesKey,
                                         P::chunkSizeKey};
    m_settingsChanges = P::defaults().observe([this](const QSet<QString>& keys) {
        if (keys.intersects(shownKeys))
            showSettings();
    });
}

PreferencesPane::~PreferencesPane() {
    for (const auto& task : std::as_const(m_chooserTasks))
        task.cancel();
}

QCheckBox* PreferencesPane::makeCheckbox(const QString& title, void (PreferencesPane::*action)()) {
    auto* checkbox = new QCheckBox(title);
    // clicked, not toggled: only the user's change is written, never our own setChecked.
    connect(checkbox, &QCheckBox::clicked, this, [this, action] { (this->*action)(); });
    return checkbox;
}

int PreferencesPane::chunkSizeIndex(qint64 stored) {
    const QList<ChunkSizeChoice>& table = chunkSizeChoices();
    for (int i = 0; i < table.size(); ++i) {
        if (table[i].bytes == stored)
            return i;
    }
    // Unset, negative and out-of-range values: what the copies use is the bound they are raised
    // or lowered to, and that is what the popup shows.
    if (stored < PreferencesViewController::minimumChunkSize)
        return defaultChunkSizeIndex;
    if (stored > PreferencesViewController::maximumChunkSize)
        return int(table.size()) - 1;
    return -1;
}

QString PreferencesPane::chunkSizeTitle(qint64 bytes) {
    const double mebibytes = double(bytes) / double(mebibyte);
    return QStringLiteral("%1 MB").arg(
        QString::number(mebibytes, 'f', 1).remove(QRegularExpression(QStringLiteral("\\.0$"))));
}

void PreferencesPane::loadView() {
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(columnSpacing);
    grid->setVerticalSpacing(12);
    int row = 0;
    auto addRow = [&](const QString& label, QWidget* control) {
        // One line each: the labels' column is as wide as the longest of them.
        grid->addWidget(rowLabel(label), row, 0, Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(control, row, 1, Qt::AlignLeft | Qt::AlignVCenter);
        ++row;
    };

    defaultDestinationField = new PathControl;
    defaultDestinationField->setObjectName(QStringLiteral("defaultDestinationField"));
    defaultDestinationField->setFixedWidth(pathControlWidth);
    defaultDestinationField->onClick = [this] {
        changeDestination();
    };
    addRow(QStringLiteral("Default Copy Destination:"), defaultDestinationField);

    showHiddenFilesCheckbox =
        makeCheckbox(QStringLiteral("Show hidden files"), &PreferencesPane::hiddenFilesChanged);
    addRow(QStringLiteral("Hidden Files:"), showHiddenFilesCheckbox);

    enableThumbnailsCheckbox = makeCheckbox(QStringLiteral("Generate thumbnails for images and video"),
                                            &PreferencesPane::thumbnailsChanged);
    addRow(QStringLiteral("Thumbnails:"), enableThumbnailsCheckbox);

    chunkSizePopup = new QComboBox;
    chunkSizePopup->setObjectName(QStringLiteral("chunkSizePopup"));
    for (const ChunkSizeChoice& choice : chunkSizeChoices())
        chunkSizePopup->addItem(QString::fromLatin1(choice.title), choice.bytes);
    connect(chunkSizePopup, &QComboBox::activated, this, [this] { chunkSizeChanged(); });
    addRow(QStringLiteral("Transfer Chunk Size:"), chunkSizePopup);

    verifyTransfersCheckbox = makeCheckbox(QStringLiteral("Verify transfers with SHA-256 after copy"),
                                           &PreferencesPane::verifyTransfersChanged);
    addRow(QStringLiteral("Verification:"), verifyTransfersCheckbox);

    preserveTimestampsCheckbox = makeCheckbox(QStringLiteral("Preserve modified date on copied files"),
                                              &PreferencesPane::preserveTimestampsChanged);
    addRow(QStringLiteral("Metadata:"), preserveTimestampsCheckbox);

    autoIngestCheckbox = makeCheckbox(QStringLiteral("Auto-ingest DCIM on device connect"),
                                      &PreferencesPane::autoIngestChanged);
    addRow(QStringLiteral("Auto-Ingest:"), autoIngestCheckbox);

    autoIngestDestinationField = new PathControl;
    autoIngestDestinationField->setObjectName(QStringLiteral("autoIngestDestinationField"));
    autoIngestDestinationField->setFixedWidth(pathControlWidth);
    autoIngestDestinationField->onClick = [this] {
        changeAutoIngestDestination();
    };
    addRow(QStringLiteral("Ingest Destination:"), autoIngestDestinationField);

    createDeviceFolderCheckbox = makeCheckbox(QStringLiteral("Create a device-named subfolder"),
                                              &PreferencesPane::autoIngestFolderOptionsChanged);
    createDateFolderCheckbox = makeCheckbox(QStringLiteral("Create a date subfolder"),
                                            &PreferencesPane::autoIngestFolderOptionsChanged);
    auto* folderOptions = new QWidget;
    auto* stack = new QVBoxLayout(folderOptions);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);
    stack->addWidget(createDeviceFolderCheckbox);
    stack->addWidget(createDateFolderCheckbox);
    addRow(QStringLiteral("Ingest Folders:"), folderOptions);

    showSettings();

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(margin, margin, margin, margin);
    outer->addLayout(grid);
    outer->addStretch(1);
    // 480 × 520 at the least; where the desktop's font makes a label and its control wider than
    // that, the window takes their width rather than break the label or cut the control off.
    setFixedSize(std::max(windowWidth, sizeHint().width()), std::max(windowHeight, sizeHint().height()));
}

void PreferencesPane::showSettings() {
    using P = PreferencesViewController;
    // A path control builds its segments anew on every setURL: only a change is shown.
    const auto showFolder = [](PathControl* field, const URL& url) {
        if (field->url() != std::optional<URL>(url))
            field->setURL(url);
    };
    showFolder(defaultDestinationField, P::defaultDestination());
    showFolder(autoIngestDestinationField, P::autoIngestDestination());
    showHiddenFilesCheckbox->setChecked(P::showHiddenFiles());
    enableThumbnailsCheckbox->setChecked(P::enableThumbnails());
    verifyTransfersCheckbox->setChecked(P::verifyTransfers());
    preserveTimestampsCheckbox->setChecked(P::preserveTimestamps());
    autoIngestCheckbox->setChecked(P::autoIngestEnabled());
    createDeviceFolderCheckbox->setChecked(P::autoIngestIncludeDeviceFolder());
    createDateFolderCheckbox->setChecked(P::autoIngestIncludeDateFolder());

    const qint64 storedChunkSize = P::defaults().integerForKey(P::chunkSizeKey);
    const int tableSize = int(chunkSizeChoices().size());
    while (chunkSizePopup->count() > tableSize)
        chunkSizePopup->removeItem(chunkSizePopup->count() - 1);
    int index = chunkSizeIndex(storedChunkSize);
    if (index < 0) {
        // An odd size someone stored by hand is what the copies use: show it as it is and keep
        // it until the user picks one of the sizes.
        chunkSizePopup->addItem(chunkSizeTitle(storedChunkSize), storedChunkSize);
        index = chunkSizePopup->count() - 1;
    }
    chunkSizePopup->setCurrentIndex(index);
}

bool PreferencesPane::storeDestination(const QString& key, const URL& url) {
    const QByteArray archive = archiveURL(url);
    // Checked before anything is written: a value that would read back as something else (or as
    // nothing) must not replace the setting in effect.
    if (archive.isEmpty() || unarchiveURL(archive) != std::optional<URL>(url)) {
        Logger::ui().error("Could not store %s: the folder %s cannot be archived", QString(key),
                           url.absoluteString());
        return false;
    }
    UserDefaults& defaults = PreferencesViewController::defaults();
    defaults.set(key, archive);
    if (defaults.dataForKey(key) != std::optional<QByteArray>(archive)) {
        Logger::ui().error("Could not store %s", QString(key));
        return false;
    }
    return true;
}

bool PreferencesPane::setDefaultDestination(const URL& url) {
    return storeDestination(PreferencesViewController::defaultDestinationKey, url);
}

bool PreferencesPane::setAutoIngestDestination(const URL& url) {
    return storeDestination(PreferencesViewController::autoIngestDestinationKey, url);
}

bool PreferencesPane::storeCheckboxState(const QCheckBox* checkbox, const QString& key) {
    const bool on = checkbox->checkState() == Qt::Checked;
    UserDefaults& defaults = PreferencesViewController::defaults();
    defaults.set(key, on);
    const std::optional<QVariant> stored = defaults.object(key);
    if (!stored || stored->typeId() != QMetaType::Bool || stored->toBool() != on) {
        Logger::ui().error("Could not store %s", QString(key));
        return false;
    }
    return true;
}

void PreferencesPane::chooseFolder(std::optional<URL> start, std::function<void(URL)> completion) {
    m_chooserTasks.removeIf([](const async::TaskHandle<void>& task) { return task.isFinished(); });
    auto chooser = m_chooser;
    QPointer<QWidget> parent(window());
    m_chooserTasks.append(async::spawn([chooser, parent, start, completion](std::stop_token token) {
        return runChooser(chooser, parent, start, completion, token);
    }));
}

void PreferencesPane::changeDestination() {
    QPointer<PreferencesPane> self(this);
    chooseFolder(defaultDestinationField->url(), [self](URL url) {
        // Both fields: an ingest folder never chosen is the new default.
        if (self && setDefaultDestination(url))
            self->showSettings();
    });
}

void PreferencesPane::changeAutoIngestDestination() {
    QPointer<PreferencesPane> self(this);
    chooseFolder(autoIngestDestinationField->url(), [self](URL url) {
        if (self && setAutoIngestDestination(url))
            self->showSettings();
    });
}

void PreferencesPane::hiddenFilesChanged() {
    storeCheckboxState(showHiddenFilesCheckbox, PreferencesViewController::showHiddenFilesKey);
}

void PreferencesPane::thumbnailsChanged() {
    storeCheckboxState(enableThumbnailsCheckbox, PreferencesViewController::enableThumbnailsKey);
}

void PreferencesPane::verifyTransfersChanged() {
    storeCheckboxState(verifyTransfersCheckbox, PreferencesViewController::verifyTransfersKey);
}

void PreferencesPane::preserveTimestampsChanged() {
    storeCheckboxState(preserveTimestampsCheckbox, PreferencesViewController::preserveTimestampsKey);
}

void PreferencesPane::autoIngestChanged() {
    storeCheckboxState(autoIngestCheckbox, PreferencesViewController::autoIngestEnabledKey);
}

void PreferencesPane::autoIngestFolderOptionsChanged() {
    // Both boxes each time, so the stored pair always matches what the window shows.
    storeCheckboxState(createDeviceFolderCheckbox,
                       PreferencesViewController::autoIngestIncludeDeviceFolderKey);
    storeCheckboxState(createDateFolderCheckbox, PreferencesViewController::autoIngestIncludeDateFolderKey);
}

void PreferencesPane::chunkSizeChanged() {
    const int index = chunkSizePopup->currentIndex();
    const QList<ChunkSizeChoice>& table = chunkSizeChoices();
    // The extra item of an odd stored size is no choice: it keeps what is stored.
    if (index < 0 || index >= table.size())
        return;
    PreferencesViewController::defaults().set(PreferencesViewController::chunkSizeKey, table[index].bytes);
}
