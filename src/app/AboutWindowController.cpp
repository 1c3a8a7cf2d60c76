#include "app/AboutWindowController.h"

#include "app/ApplicationIcon.h"
#include "app/ProjectInfo.h"
#include "platform/Logger.h"
#include "platform/URL.h"
#include "uikit/Colours.h"
#include "uikit/Fonts.h"
#include "uikit/Workspace.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

QLabel* makeLabel(const QString& text, int pixelSize, Fonts::Weight weight, Colours::Label colour) {
    auto* label = new QLabel(text);
    label->setFont(Fonts::system(pixelSize, weight));
    label->setAlignment(Qt::AlignHCenter);
    Colours::setLabelColour(label, colour);
    return label;
}

QWidget* spacer(int height) {
    auto* view = new QWidget;
    view->setFixedHeight(height);
    return view;
}

QString textOrQuestionMark(const QVariant& value) {
    return value.typeId() == QMetaType::QString ? value.toString() : QStringLiteral("?");
}

} // namespace

AboutWindowController::BundleInfo AboutWindowController::mainBundle() {
    const QString version = QCoreApplication::applicationVersion();
    return {version.isEmpty() ? QString::fromLatin1(ProjectInfo::shortVersion) : version,
            QString::fromLatin1(ProjectInfo::buildVersion)};
}

QString AboutWindowController::versionText(const BundleInfo& bundle) {
    return QStringLiteral("Version %1 (%2)")
        .arg(textOrQuestionMark(bundle.shortVersion), textOrQuestionMark(bundle.buildVersion));
}

AboutWindowController::AboutWindowController(BundleInfo bundle) : m_bundle(std::move(bundle)) {
    m_window = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                                      Qt::WindowCloseButtonHint);
    m_window->setObjectName(QStringLiteral("aboutWindow"));
    m_window->setWindowTitle(QStringLiteral("About Orvanta"));
    m_window->setFixedSize(360, 420);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), m_window->size());
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }
    buildContent();
}

AboutWindowController::~AboutWindowController() {
    for (const auto& task : std::as_const(m_alertTasks))
        task.cancel();
}

void AboutWindowController::showWindow() {
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void AboutWindowController::buildContent() {
    auto* stack = new QVBoxLayout(m_window.get());
    stack->setContentsMargins(30, 24, 30, 20);
    stack->setSpacing(6);
    stack->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setFixedSize(96, 96);
    icon->setPixmap(ApplicationIcon::icon().pixmap(96, 96));
    icon->setAlignment(Qt::AlignCenter);
    stack->addWidget(icon, 0, Qt::AlignHCenter);

    auto* name = makeLabel(QStringLiteral("Orvanta"), 20, Fonts::Weight::semibold, Colours::Label::primary);
    name->setObjectName(QStringLiteral("aboutName"));
    stack->addWidget(name);
    auto* version = makeLabel(versionText(m_bundle), 11, Fonts::Weight::regular, Colours::Label::secondary);
    version->setObjectName(QStringLiteral("aboutVersion"));
    stack->addWidget(version);
    stack->addWidget(spacer(12));
    stack->addWidget(makeLinkButton(QStringLiteral("Website"), QString::fromLatin1(ProjectInfo::websiteURL)),
                     0, Qt::AlignHCenter);
    stack->addWidget(
        makeLinkButton(QStringLiteral("Help & Support"), QString::fromLatin1(ProjectInfo::supportURL)), 0,
        Qt::AlignHCenter);
    stack->addWidget(
        makeLinkButton(QStringLiteral("Community Forum"), QString::fromLatin1(ProjectInfo::forumURL)), 0,
        Qt::AlignHCenter);
    stack->addWidget(spacer(12));
    QPushButton* credit =
        makeLinkButton(QString::fromUtf8(ProjectInfo::creditLine), QString::fromLatin1(ProjectInfo::homeURL));
    credit->setFont(Fonts::system(12, Fonts::Weight::medium));
    stack->addWidget(credit, 0, Qt::AlignHCenter);
    stack->addWidget(spacer(4));
    auto* legal = makeLabel(QString::fromUtf8(ProjectInfo::legalNotice), 10, Fonts::Weight::regular,
                            Colours::Label::tertiary);
    legal->setObjectName(QStringLiteral("aboutLegal"));
    stack->addWidget(legal);
    stack->addWidget(spacer(16));
    auto* note = makeLabel(QString::fromUtf8(ProjectInfo::closingNote), 10, Fonts::Weight::regular,
                           Colours::Label::tertiary);
    note->setObjectName(QStringLiteral("aboutNote"));
    note->setWordWrap(true);
    stack->addWidget(note);
}

QPushButton* AboutWindowController::makeLinkButton(const QString& title, const QString& url) {
    // A button reads "&" as the mark of its shortcut letter; the title is shown as written.
    auto* button = new QPushButton(QString(title).replace(QLatin1Char('&'), QLatin1String("&&")));
    button->setFlat(true);
    button->setAutoDefault(false);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(Fonts::system(12));
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, Colours::link(palette));
    button->setPalette(palette);
    button->setToolTip(url);
    button->setProperty(linkURLKey, url);
    connect(button, &QPushButton::clicked, this, [this, button] { openLink(button); });
    return button;
}

void AboutWindowController::openLink(QObject* sender) {
    if (!sender)
        return;
    const QVariant value = sender->property(linkURLKey);
    if (value.typeId() != QMetaType::QString)
        return;
    const std::optional<URL> url = URL::fromString(value.toString());
    if (!url || url->scheme().isEmpty()) {
        Logger::ui().error("Not a web address: %s", value.toString());
        return;
    }
    if (Workspace::open(*url) || !alertPresenter)
        return;
    m_alertTasks.removeIf([](const async::TaskHandle<void>& task) { return task.isFinished(); });
    m_alertTasks.append(presentAlert(
        alertPresenter, m_window.get(),
        Workspace::openFailedAlert(QStringLiteral("The link could not be opened."), url->absoluteString())));
}
