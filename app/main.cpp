// Kestrovid to PSP: converts one video or audio file for the PSP.
// Usage: kestrovid [SOURCE [SUBTITLES]]
#include "app/MainFrm.h"
#include "platform/RegistryFileStore.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Kestrovid to PSP"));

    const std::unique_ptr<kv::platform::ISettingsStore> store = kv::platform::openUserSettingsStore();
    kv::app::TfrmMainSetup setup;
    setup.store = store.get();
    kv::app::TfrmMain frmMain(std::move(setup));
    // The options holder's start-up step, then files named on the command line.
    frmMain.OptionsStartup(QCoreApplication::applicationFilePath(), QCoreApplication::arguments().mid(1));
    frmMain.show();
    return app.exec();
}
