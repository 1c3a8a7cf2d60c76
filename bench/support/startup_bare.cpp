// The baseline of the startup benchmark: a Qt program that shows one empty window of the main
// window's size and says so on the first turn of its event loop, as the application's own
// launch does, then runs until it is told to stop. With "--text" the window holds one line of
// text, so that the cost of the system's fonts, which any window with text pays, shows apart.

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.resize(1100, 700);
    if (argc > 1 && QByteArrayView(argv[1]) == "--text")
        (new QLabel(QStringLiteral("No device connected"), &window))->move(500, 340);
    window.show();
    QTimer::singleShot(0, &window, [] {
        std::fprintf(stderr, "window shown\n");
        std::fflush(stderr);
    });
    return QApplication::exec();
}
