// drop-receiver FOLDER: a window that copies the files dropped on it into FOLDER and prints their
// URLs (see DropReceiver.h). The window's title is "Drop Receiver".
#include "DropReceiver.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 2 || !QDir(args.at(1)).exists()) {
        std::fprintf(stderr, "usage: drop-receiver FOLDER (an existing folder)\n");
        return 2;
    }
    QTextStream out(stdout);
    DropReceiver window(args.at(1), out);
    window.resize(240, 200);
    window.show();
    out << "ready" << Qt::endl;
    return QApplication::exec();
}
