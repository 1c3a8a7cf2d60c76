#include "uikit/QuickLookPanel.h"

#include "platform/ByteCountFormatter.h"
#include "platform/Logger.h"
#include "uikit/Fonts.h"
#include "uikit/Symbols.h"
#include "uikit/Workspace.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeDatabase>
#include <QPainter>
#include <QPdfDocument>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

// Held in a global so that a panel made once serves the whole process.
QuickLookPanel* sharedPanel = nullptr;

enum Page { emptyPage, imagePage, textPage, otherPage };

constexpr qsizetype longLineLength = 4096;

QImage readImage(const QString& path, int maxPixels) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > maxPixels || size.height() > maxPixels))
        reader.setScaledSize(size.scaled(maxPixels, maxPixels, Qt::KeepAspectRatio));
    return reader.read();
}

bool isText(const QMimeType& type) {
    return type.inherits(QStringLiteral("text/plain")) || type.name().startsWith(QLatin1String("text/"));
}

} // namespace

namespace {

// The first page of a PDF, at most maxPixels on its longer side; a null image when the file
// cannot be read as one.
QImage firstPage(const QString& path, int maxPixels) {
    QPdfDocument document;
    if (document.load(path) != QPdfDocument::Error::None || document.pageCount() < 1)
        return {};
    const QSizeF points = document.pagePointSize(0);
    if (points.isEmpty())
        return {};
    const double scale = double(std::max(1, maxPixels)) / std::max(points.width(), points.height());
    const QSize pixels(std::max(1, int(points.width() * scale)), std::max(1, int(points.height() * scale)));
    const QImage drawn = document.render(0, pixels);
    if (drawn.isNull())
        return {};
    // A page leaves transparent what it does not paint itself; the panel's own dark colour must
    // not show through as if it were the paper.
    QImage page(drawn.size(), QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    painter.drawImage(0, 0, drawn);
    return page;
}

} // namespace

struct QuickLookPanel::Loaded {
    ContentKind kind = ContentKind::other;
    QImage image;
    QString text;
    // Wrapping a line of hundreds of thousands of characters holds the main thread for seconds.
    bool hasLongLines = false;
    QString mimeType;
    qint64 size = -1;
};

void QuickLookPanelDataSource::openPreviewItem(QuickLookPanel*, const URL& url) {
    Workspace::open(url);
}

QuickLookPanel* QuickLookPanel::shared() {
    if (!sharedPanel)
        sharedPanel = new QuickLookPanel;
    return sharedPanel;
}

QuickLookPanel* QuickLookPanel::sharedIfExists() {
    return sharedPanel;
}

void QuickLookPanel::destroyShared() {
    delete sharedPanel;
    sharedPanel = nullptr;
}

QuickLookPanel::QuickLookPanel(QWidget* parent)
    : QWidget(parent, Qt::Tool), m_decoder(readImage),
      m_executor(std::make_unique<async::SerialExecutor>(QStringLiteral("quicklook"))) {
    setObjectName(QStringLiteral("quickLookPanel"));
    resize(640, 520);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);

    m_stack = new QStackedWidget;
    m_emptyLabel = new QLabel(QStringLiteral("No Items"));
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    m_stack->addWidget(m_emptyLabel);

    m_imageView = new QLabel;
    m_imageView->setObjectName(QStringLiteral("quickLookImage"));
    m_imageView->setAlignment(Qt::AlignCenter);
    m_imageView->setMinimumSize(1, 1);
    m_stack->addWidget(m_imageView);

    m_textView = new QPlainTextEdit;
    m_textView->setObjectName(QStringLiteral("quickLookText"));
    m_textView->setReadOnly(true);
    // The panel takes its keys itself; the text is for reading only.
    m_textView->setFocusPolicy(Qt::NoFocus);
    m_stack->addWidget(m_textView);

    auto* other = new QWidget;
    auto* otherLayout = new QVBoxLayout(other);
    otherLayout->addStretch(1);
    m_iconView = new QLabel;
    m_iconView->setObjectName(QStringLiteral("quickLookIcon"));
    m_iconView->setAlignment(Qt::AlignCenter);
    otherLayout->addWidget(m_iconView);
    m_nameLabel = new QLabel;
    m_nameLabel->setObjectName(QStringLiteral("quickLookName"));
    m_nameLabel->setAlignment(Qt::AlignCenter);
    m_nameLabel->setFont(Fonts::system(15, Fonts::Weight::semibold));
    otherLayout->addWidget(m_nameLabel);
    m_sizeLabel = new QLabel;
    m_sizeLabel->setObjectName(QStringLiteral("quickLookSize"));
    m_sizeLabel->setAlignment(Qt::AlignCenter);
    otherLayout->addWidget(m_sizeLabel);
    m_openButton = new QPushButton(QStringLiteral("Open"));
    m_openButton->setObjectName(QStringLiteral("quickLookOpen"));
    m_openButton->setAutoDefault(false);
    m_openButton->setFocusPolicy(Qt::NoFocus);
    connect(m_openButton, &QPushButton::clicked, this, [this] {
        if (m_current < 0 || m_current >= m_items.size())
            return;
        const URL url = m_items[m_current];
        if (m_dataSource)
            m_dataSource->openPreviewItem(this, url);
        else
            Workspace::open(url);
    });
    otherLayout->addWidget(m_openButton, 0, Qt::AlignHCenter);
    otherLayout->addStretch(1);
    m_stack->addWidget(other);
    layout->addWidget(m_stack, 1);

    auto* navigation = new QHBoxLayout;
    m_previousButton = new QPushButton(QStringLiteral("‹"));
    m_previousButton->setObjectName(QStringLiteral("quickLookPrevious"));
    m_nextButton = new QPushButton(QStringLiteral("›"));
    m_nextButton->setObjectName(QStringLiteral("quickLookNext"));
    m_positionLabel = new QLabel;
    for (QPushButton* button : {m_previousButton, m_nextButton}) {
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::NoFocus);
    }
    connect(m_previousButton, &QPushButton::clicked, this,
            [this] { setCurrentPreviewItemIndex(m_current - 1); });
    connect(m_nextButton, &QPushButton::clicked, this, [this] { setCurrentPreviewItemIndex(m_current + 1); });
    navigation->addWidget(m_previousButton);
    navigation->addStretch(1);
    navigation->addWidget(m_positionLabel);
    navigation->addStretch(1);
    navigation->addWidget(m_nextButton);
    layout->addLayout(navigation);
    setFocusPolicy(Qt::StrongFocus);
    updateNavigation();
}

QuickLookPanel::~QuickLookPanel() {
    // Ends the load in progress and drops the queued ones before anything else goes.
    m_executor.reset();
}

void QuickLookPanel::setImageDecoder(ImageDecoder decoder) {
    m_decoder = decoder ? std::move(decoder) : ImageDecoder(readImage);
}

void QuickLookPanel::reloadData() {
    QList<URL> items;
    QList<QuickLookItemFacts> facts;
    // The count first: a data source rebuilds what it serves when asked for it.
    const int count = m_dataSource ? m_dataSource->numberOfPreviewItems(this) : 0;
    for (int i = 0; i < count; ++i) {
        if (std::optional<URL> url = m_dataSource->previewItemAt(this, i)) {
            items.append(*url);
            facts.append(m_dataSource->previewFactsAt(this, i));
        }
    }
    // The panel opens with what is known and is filled again once the copies are there: what is
    // already shown stays, and the user's place among the items with it.
    if (!items.isEmpty() && items == m_items && facts == m_facts && m_loadGeneration == m_generation)
        return;
    m_items = items;
    m_facts = facts;
    // A new selection starts at its first item.
    m_current = 0;
    showCurrent();
}

void QuickLookPanel::setCurrentPreviewItemIndex(int index) {
    if (index < 0 || index >= m_items.size() || index == m_current)
        return;
    m_current = index;
    showCurrent();
}

void QuickLookPanel::makeKeyAndOrderFront(QWidget* over) {
    const bool opening = !isVisible();
    show();
    // Placed by us, not by the window manager's guess: a tool window without a parent otherwise
    // lands at the screen's corner, away from what the user was looking at. After show(), so
    // that the frame's size is known.
    if (over && opening) {
        QRect frame = frameGeometry();
        frame.moveCenter(over->frameGeometry().center());
        move(frame.topLeft());
    }
    raise();
    activateWindow();
    setFocus();
}

void QuickLookPanel::orderOut() {
    ++m_generation;
    hide();
}

void QuickLookPanel::updateNavigation() {
    const bool several = m_items.size() > 1;
    m_previousButton->setVisible(several);
    m_nextButton->setVisible(several);
    m_positionLabel->setVisible(several);
    m_previousButton->setEnabled(m_current > 0);
    m_nextButton->setEnabled(m_current + 1 < m_items.size());
    m_positionLabel->setText(QStringLiteral("%1 of %2").arg(m_current + 1).arg(m_items.size()));
}

QuickLookPanel::Loaded QuickLookPanel::load(const QString& path, const QuickLookItemFacts& facts, int maxPixels,
                                            const ImageDecoder& decoder) {
    Loaded loaded;
    loaded.size = facts.size;
    loaded.mimeType = facts.mimeType;
    loaded.image = facts.frame;
    // An item that is not a local file (a device file nobody copied) is shown from its facts.
    if (path.isEmpty()) {
        loaded.kind = loaded.image.isNull() ? ContentKind::other : ContentKind::frame;
        return loaded;
    }
    const QFileInfo info(path);
    if (info.exists())
        loaded.size = info.size();
    const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(path);
    loaded.mimeType = type.name();
    if (type.inherits(QStringLiteral("application/pdf"))) {
        loaded.image = firstPage(path, maxPixels);
        if (!loaded.image.isNull()) {
            loaded.kind = ContentKind::image;
            return loaded;
        }
    } else if (type.name().startsWith(QLatin1String("image/"))) {
        loaded.image = decoder(path, maxPixels);
        if (!loaded.image.isNull()) {
            loaded.kind = ContentKind::image;
            return loaded;
        }
    } else if (isText(type)) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            loaded.text = QString::fromUtf8(file.read(textPreviewBytes));
            qsizetype lineStart = 0;
            while (!loaded.hasLongLines && lineStart < loaded.text.size()) {
                qsizetype end = loaded.text.indexOf(QLatin1Char('\n'), lineStart);
                if (end < 0)
                    end = loaded.text.size();
                loaded.hasLongLines = end - lineStart > longLineLength;
                lineStart = end + 1;
            }
            loaded.kind = ContentKind::text;
            return loaded;
        }
    }
    loaded.kind = loaded.image.isNull() ? ContentKind::other : ContentKind::frame;
    return loaded;
}

void QuickLookPanel::showCurrent() {
    const quint64 generation = ++m_generation;
    m_loadGeneration = generation;
    updateNavigation();
    if (m_items.isEmpty()) {
        m_kind = ContentKind::none;
        setWindowTitle(QStringLiteral("Quick Look"));
        m_stack->setCurrentIndex(emptyPage);
        return;
    }
    const URL url = m_items[m_current];
    const int index = m_current;
    setWindowTitle(url.lastPathComponent());
    m_nameLabel->setText(url.lastPathComponent());
    const QString path = url.isFileURL() ? url.toLocalFile() : QString();
    const int maxPixels = std::max(width(), height()) * std::max(1, int(devicePixelRatio()));
    ImageDecoder decoder = m_decoder;
    const QuickLookItemFacts facts = m_facts.value(m_current);
    m_openButton->setEnabled(m_dataSource ? m_dataSource->canOpenPreviewItem(this, url) : url.isFileURL());
    if (!path.isEmpty())
        Logger::ui().debug("Quick Look reads %s", path);
    // The result comes back as a queued call on the panel: Qt drops it when the panel is gone,
    // and the panel joins the executor before it goes, so no job outlives it.
    QuickLookPanel* panel = this;
    m_executor->post([panel, generation, index, path, facts, maxPixels, decoder] {
        auto loaded = std::make_shared<Loaded>(load(path, facts, maxPixels, decoder));
        QMetaObject::invokeMethod(
            panel,
            [panel, generation, index, loaded] {
                if (panel->m_generation == generation)
                    panel->showLoaded(*loaded, index);
            },
            Qt::QueuedConnection);
    });
}

void QuickLookPanel::showLoaded(const Loaded& loaded, int index) {
    m_kind = loaded.kind;
    switch (loaded.kind) {
    case ContentKind::image:
        m_image = loaded.image;
        m_imageView->setPixmap(QPixmap::fromImage(
            m_image.scaled(m_imageView->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        m_stack->setCurrentIndex(imagePage);
        break;
    case ContentKind::text:
        m_textView->setLineWrapMode(loaded.hasLongLines ? QPlainTextEdit::NoWrap
                                                        : QPlainTextEdit::WidgetWidth);
        m_textView->setPlainText(loaded.text);
        m_stack->setCurrentIndex(textPage);
        break;
    default: {
        if (loaded.kind == ContentKind::frame) {
            const QImage frame = loaded.image.scaled(QSize(320, 240).boundedTo(loaded.image.size() * 2),
                                                     Qt::KeepAspectRatio, Qt::SmoothTransformation);
            m_iconView->setPixmap(QPixmap::fromImage(frame));
            m_iconView->setProperty(iconMimeTypeProperty, QVariant());
        } else {
            m_iconView->setPixmap(Symbols::fileTypeIcon(loaded.mimeType, false).pixmap(128, 128));
            m_iconView->setProperty(iconMimeTypeProperty, loaded.mimeType);
        }
        m_sizeLabel->setText(loaded.size < 0 ? QString() : ByteCountFormatter::fileFromSigned(loaded.size));
        m_stack->setCurrentIndex(otherPage);
        reportOpenButtonPosition();
        break;
    }
    }
    static const char* const kindNames[] = {"nothing", "picture", "text", "video frame", "icon"};
    Logger::ui().debug("Quick Look: %s shown as %s", windowTitle(), QString::fromLatin1(kindNames[int(loaded.kind)]));
    emit previewShown(index, loaded.kind);
}

// Open has no key, so whoever drives the panel from outside (the screenshot walk-through) has to
// click it; the debug log says where, once the page is laid out.
void QuickLookPanel::reportOpenButtonPosition() {
    if (!isVisible())
        return;
    layout()->activate();
    if (QLayout* page = m_stack->currentWidget()->layout())
        page->activate();
    const QPoint centre = m_openButton->mapTo(this, m_openButton->rect().center());
    Logger::ui().debug("Quick Look: Open button at %d,%d in the panel", centre.x(), centre.y());
}

void QuickLookPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_kind == ContentKind::image && !m_image.isNull())
        m_imageView->setPixmap(QPixmap::fromImage(
            m_image.scaled(m_imageView->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void QuickLookPanel::keyPressEvent(QKeyEvent* event) {
    if (m_delegate && m_delegate->handleKeyEvent(this, event))
        return;
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Escape:
        orderOut();
        return;
    case Qt::Key_Left:
        setCurrentPreviewItemIndex(m_current - 1);
        return;
    case Qt::Key_Right:
        setCurrentPreviewItemIndex(m_current + 1);
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}
