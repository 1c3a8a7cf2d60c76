#pragma once

#include "uikit/KeyViewLoopWindow.h"

#include <memory>

class BrowserContainerController;
class MainWindowController;
class PathBarView;
class SidebarViewController;
class Toolbar;

// The main window's parts in the order Tab visits them: the sidebar, the browser (entered at the
// list it chooses), each toolbar item, then the path bar's segments. Parts not shown are left out.
QList<KeyViewLoopWindow::Stop> mainWindowKeyViews(SidebarViewController* sidebar,
                                                  BrowserContainerController* browser, Toolbar* toolbar,
                                                  PathBarView* pathBar);

// The controller's window, whose Tab goes round the parts the controller shows at that moment.
std::unique_ptr<KeyViewLoopWindow> makeMainWindow(const MainWindowController& controller);
