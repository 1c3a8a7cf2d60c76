#include "app/ApplicationIcon.h"

QIcon ApplicationIcon::icon() {
    // A scalable drawing: every size a window frame, a task bar or About asks for is drawn sharp.
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(desktopName)));
}
