// Entry point of DLL_Zorvik_V103.
#include <QApplication>

#include "Main.h"
#include "Unit11.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    CreateApplicationWindows();
    MainForm->show();
    app.exec();
    UartThread::StopAll();
    return 0;
}
