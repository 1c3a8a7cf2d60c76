// The baseline of the startup benchmark: a Qt program that shows one empty window of the main
// window's size and says so on the first turn of its event loop, as the application's own
// launch does, then runs until it is told to stop.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.resize(1100, 700);
    window.show();
    QTimer::singleShot(0, &window, [] {
        std::fprintf(stderr, "window shown\n");
        std::fflush(stderr);
    });
    return QApplication::exec();
}
