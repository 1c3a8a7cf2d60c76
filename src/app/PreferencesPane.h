#pragma once

#include "platform/Subscription.h"
#include "platform/URL.h"
#include "platform/async/TaskHandle.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class FolderChooser;
class PathControl;
class QCheckBox;
class QComboBox;

// The content of the Preferences window: one grid of labelled controls, each writing its setting
// the moment it changes, through the same keys the services read (PreferencesViewController in
// the services). The controls show what the services read, and follow every change of the
// settings: this window's own, and another running instance's. So the ingest folder shown while
// none was chosen is the default destination of the moment, as the services read it.
class PreferencesPane : public QWidget {
    Q_OBJECT
public:
    struct ChunkSizeChoice {
        const char* title;
        qint64 bytes;
    };
    // The titles say MB; the values are mebibytes.
    static const QList<ChunkSizeChoice>& chunkSizeChoices();
    static constexpr int defaultChunkSizeIndex = 2;

    // The chooser asks for folders; none means the dialog of the platform.
    explicit PreferencesPane(std::shared_ptr<FolderChooser> chooser = nullptr, QWidget* parent = nullptr);
    ~PreferencesPane() override;

    // Actions, as the controls send them.
    void changeDestination();
    void hiddenFilesChanged();
    void thumbnailsChanged();
    void chunkSizeChanged();
    void verifyTransfersChanged();
    void preserveTimestampsChanged();
    void autoIngestChanged();
    void changeAutoIngestDestination();
    void autoIngestFolderOptionsChanged();

    // Writers. Each says whether the value is now stored: a URL that would not read back as
    // itself is refused before anything is written, so the previous setting stays in effect.
    static bool setDefaultDestination(const URL& url);
    static bool setAutoIngestDestination(const URL& url);
    static bool storeCheckboxState(const QCheckBox* checkbox, const QString& key);
    // Runs the chooser with the prompt "Select", opened at start; completion gets the folder,
    // never a cancel.
    void chooseFolder(std::optional<URL> start, std::function<void(URL)> completion);

    // The popup's index for a stored "chunkSize": the table's entry when it holds the value, else
    // the entry of what the transfer engine will use; -1 when that is no entry (an odd size,
    // which the popup then shows as an extra item of its own).
    static int chunkSizeIndex(qint64 stored);
    // "12 MB", "12.5 MB": a size in mebibytes as the popup titles it.
    static QString chunkSizeTitle(qint64 bytes);

    PathControl* defaultDestinationField = nullptr;
    QCheckBox* showHiddenFilesCheckbox = nullptr;
    QCheckBox* enableThumbnailsCheckbox = nullptr;
    QComboBox* chunkSizePopup = nullptr;
    QCheckBox* verifyTransfersCheckbox = nullptr;
    QCheckBox* preserveTimestampsCheckbox = nullptr;
    QCheckBox* autoIngestCheckbox = nullptr;
    PathControl* autoIngestDestinationField = nullptr;
    QCheckBox* createDeviceFolderCheckbox = nullptr;
    QCheckBox* createDateFolderCheckbox = nullptr;

private:
    void loadView();
    // Sets every control to what the services read now.
    void showSettings();
    QCheckBox* makeCheckbox(const QString& title, void (PreferencesPane::*action)());
    static bool storeDestination(const QString& key, const URL& url);

    std::shared_ptr<FolderChooser> m_chooser;
    QList<async::TaskHandle<void>> m_chooserTasks;
    Subscription m_settingsChanges;
};
