#include "app/MainWindowKeyViews.h"

#include "app/MainWindowController.h"
#include "app/PathBarView.h"
#include "app/Toolbar.h"
#include "browser/BrowserContainerController.h"
#include "sidebar/SidebarViewController.h"
#include "uikit/PathControl.h"

#include <QToolButton>
#include <QTreeView>

QList<KeyViewLoopWindow::Stop> mainWindowKeyViews(SidebarViewController* sidebar,
                                                  BrowserContainerController* browser, Toolbar* toolbar,
                                                  PathBarView* pathBar) {
    QList<KeyViewLoopWindow::Stop> stops;
    if (sidebar)
        stops.append(KeyViewLoopWindow::Stop{sidebar, sidebar->outlineView()});
    if (browser)
        stops.append(KeyViewLoopWindow::Stop{browser, browser->keyView()});
    if (toolbar)
        stops.append(toolbar->keyViews());
    if (pathBar) {
        for (QToolButton* segment : pathBar->pathControl()->segmentButtons())
            stops.append(KeyViewLoopWindow::Stop{segment, segment});
    }
    return stops;
}

std::unique_ptr<KeyViewLoopWindow> makeMainWindow(const MainWindowController& controller) {
    auto window = std::make_unique<KeyViewLoopWindow>();
    window->keyViews = [&controller] {
        return mainWindowKeyViews(qobject_cast<SidebarViewController*>(controller.sidebarView()),
                                  controller.browserContainer(), controller.toolbar(),
                                  controller.pathBarView());
    };
    return window;
}
