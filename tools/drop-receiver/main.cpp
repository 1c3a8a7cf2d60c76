// drop-receiver FOLDER [--source FILE]: a window that copies the files dropped on it into FOLDER
// and prints their URLs (see DropReceiver.h); with --source, FILE can be dragged out of it from
// the start. The window's title is "Drop Receiver".
#include "DropReceiver.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    const bool withSource = args.size() == 4 && args.at(2) == QStringLiteral("--source");
    if ((args.size() != 2 && !withSource) || !QDir(args.at(1)).exists() ||
        (withSource && !QFileInfo(args.at(3)).isFile())) {
        std::fprintf(stderr, "usage: drop-receiver FOLDER [--source FILE] (an existing folder and file)\n");
        return 2;
    }
    QTextStream out(stdout);
    DropReceiver window(args.at(1), out);
    if (withSource)
        window.offer(QUrl::fromLocalFile(QFileInfo(args.at(3)).absoluteFilePath()));
    window.resize(240, 200);
    window.show();
    out << "ready" << Qt::endl;
    return QApplication::exec();
}
