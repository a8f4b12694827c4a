// Kestrovid to PSP: converts one video or audio file for the PSP.
#include "app/MainFrm.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Kestrovid to PSP"));
    kv::app::TfrmMain frmMain;
    // Files named on the command line are taken over by the file hand-over (not yet here).
    frmMain.show();
    return app.exec();
}
