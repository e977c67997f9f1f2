// Entry of the desktop program; the start-up sequence lives in app/gui.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel label("Duplora");
    label.show();
    return app.exec();
}
