#pragma once

#include "platform/URL.h"
#include "platform/async/SerialExecutor.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QuickLookPanel;

// What the data source knows of an item beyond its location: the panel reads a local file
// itself, but an item it cannot read (a device file left where it is) is shown from these.
struct QuickLookItemFacts {
    // -1 when unknown.
    qint64 size = -1;
    // The MIME type's name; empty when unknown.
    QString mimeType;
    // A still of a video, shown in place of the type's icon; null when there is none.
    QImage frame;

    bool operator==(const QuickLookItemFacts&) const = default;
};

// Who tells the panel what to show. The panel asks for the count first, then for the items.
class QuickLookPanelDataSource {
public:
    virtual ~QuickLookPanelDataSource() = default;
    virtual int numberOfPreviewItems(QuickLookPanel* panel) = 0;
    // Nothing for an index past the end.
    virtual std::optional<URL> previewItemAt(QuickLookPanel* panel, int index) = 0;
    virtual QuickLookItemFacts previewFactsAt(QuickLookPanel*, int) { return {}; }
    // Whether "Open" can hand the item to the desktop's program, and handing it over. A local
    // file goes as it is; a data source whose items live elsewhere copies them first.
    virtual bool canOpenPreviewItem(QuickLookPanel*, const URL& url) { return url.isFileURL(); }
    virtual void openPreviewItem(QuickLookPanel* panel, const URL& url);
};

// Who may take a key before the panel treats it.
class QuickLookPanelDelegate {
public:
    virtual ~QuickLookPanelDelegate() = default;
    // True when the delegate handled the key and the panel must not.
    virtual bool handleKeyEvent(QuickLookPanel* panel, QKeyEvent* event) = 0;
};

// The one preview panel of the process: a tool window that shows local files one at a time,
// pictures scaled to the panel, the start of text files, and for anything else the type's icon
// (or a video's still frame), the name, the size and an "Open" button (for what the data source
// can open). Several items get previous and next buttons. Keys go
// to the delegate first; Space and Escape close the panel; left and right step through the items.
//
// Every file read and decode runs on the panel's own executor thread; a load that is overtaken
// by a newer one is dropped when it ends.
class QuickLookPanel : public QWidget {
    Q_OBJECT
public:
    // frame: a video's still in place of the icon; other: the type's icon.
    enum class ContentKind { none, image, text, frame, other };
    // The icon label's property naming the MIME type whose icon it shows.
    static constexpr const char* iconMimeTypeProperty = "orvantaMimeType";

    // The first bytes of a text file that are shown.
    static constexpr qint64 textPreviewBytes = 256 * 1024;

    // Made on first use; never made by asking whether it exists.
    static QuickLookPanel* shared();
    static QuickLookPanel* sharedIfExists();
    // Ends the shared panel (at quit, and between tests).
    static void destroyShared();

    // Decodes a picture to at most maxPixels on its longer side, on the panel's executor; a null
    // image when it cannot. By default QImageReader; the application hands in its own decoder
    // (HEIC and the camera's orientation).
    using ImageDecoder = std::function<QImage(const QString& path, int maxPixels)>;
    void setImageDecoder(ImageDecoder decoder);

    void setDataSource(QuickLookPanelDataSource* dataSource) { m_dataSource = dataSource; }
    void setDelegate(QuickLookPanelDelegate* delegate) { m_delegate = delegate; }
    QuickLookPanelDataSource* dataSource() const { return m_dataSource; }
    QuickLookPanelDelegate* delegate() const { return m_delegate; }

    // Asks the data source for the count, then the items, and shows the first one. The same
    // items as shown (or being read) are left as they are: a file is read once, not again.
    void reloadData();
    int itemCount() const { return int(m_items.size()); }
    const QList<URL>& items() const { return m_items; }
    int currentPreviewItemIndex() const { return m_current; }
    void setCurrentPreviewItemIndex(int index);

    // A panel not yet on screen opens centred over the window given.
    void makeKeyAndOrderFront(QWidget* over = nullptr);
    void orderOut();
    bool isPanelVisible() const { return isVisible(); }

    ContentKind contentKind() const { return m_kind; }

signals:
    // The current item's content is on screen (its picture decoded, its text read).
    void previewShown(int index, QuickLookPanel::ContentKind kind);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Loaded;
    explicit QuickLookPanel(QWidget* parent = nullptr);
    ~QuickLookPanel() override;
    void showCurrent();
    void showLoaded(const Loaded& loaded, int index);
    void updateNavigation();
    void reportOpenButtonPosition();
    static Loaded load(const QString& path, const QuickLookItemFacts& facts, int maxPixels,
                       const ImageDecoder& decoder);

    QuickLookPanelDataSource* m_dataSource = nullptr;
    QuickLookPanelDelegate* m_delegate = nullptr;
    QList<URL> m_items;
    QList<QuickLookItemFacts> m_facts;
    int m_current = 0;
    quint64 m_generation = 0;
    // The generation of the load that fills the panel: while it is m_generation, what is shown
    // (or still being read) is the current item's.
    quint64 m_loadGeneration = 0;
    ContentKind m_kind = ContentKind::none;
    QImage m_image;
    ImageDecoder m_decoder;
    std::unique_ptr<async::SerialExecutor> m_executor;

    QStackedWidget* m_stack = nullptr;
    QLabel* m_imageView = nullptr;
    QPlainTextEdit* m_textView = nullptr;
    QLabel* m_iconView = nullptr;
    QLabel* m_nameLabel = nullptr;
    QLabel* m_sizeLabel = nullptr;
    QPushButton* m_openButton = nullptr;
    QLabel* m_emptyLabel = nullptr;
    QPushButton* m_previousButton = nullptr;
    QPushButton* m_nextButton = nullptr;
    QLabel* m_positionLabel = nullptr;
};
