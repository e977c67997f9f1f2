// Entry of the desktop program; the start-up sequence lives in app/gui.
#include "app/gui/StartUp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    return duplora::RunDesktopProgram(app);
}
