// The main window's update check (once, 3 s after start) and the info picture with its page.
#include "app/MainFrm.h"

#include "platform/RegistryFileStore.h"

namespace kv::app {

void TfrmMain::setUpUpdateCheck(const TfrmMainSetup& setup)
{
    if (setup.store) {
        FStore = setup.store;
    } else {
        FOwnStore = platform::openUserSettingsStore();
        FStore = FOwnStore.get();
    }
    if (setup.urlOpener) {
        FUrlOpener = setup.urlOpener;
    } else {
        FOwnUrlOpener = std::make_unique<platform::SystemUrlOpener>();
        FUrlOpener = FOwnUrlOpener.get();
    }
    QString problem;
    const UpdateService service = UpdateService::resolve(*FStore, &problem);
    if (!problem.isEmpty())
        log(problem);
    UpdateChecker = std::make_unique<UpdateCheck>(
        *FStore, CheckVersion, *FUrlOpener, service, [this](const QString& line) { log(line); },
        setup.clock ? setup.clock : UpdateCheck::Clock(&QDateTime::currentDateTime), VersionText);
}

void TfrmMain::TimerCheckVersionTimer()
{
    // Once per start: the timer stops before the request, which may take a while and serves
    // the window's events meanwhile.
    TimerCheckVersion->stop();
    UpdateChecker->run();
}

void TfrmMain::btnInfoClick(TMBButton*)
{
    if (btnInfo->Down()) {
        TImage* picture = FLocale.language() == QLocale::Polish ? ImageInfoPL : ImageInfoEn;
        picture->move(127, picture->y());
        Panel->setVisible(false);
        picture->raise();
        picture->setVisible(true);
    } else {
        ImageInfoPL->setVisible(false);
        ImageInfoEn->setVisible(false);
        Panel->setVisible(true);
    }
}

void TfrmMain::ImageInfoEnClick(TImage*)
{
    UpdateChecker->openInfoPage();
}

} // namespace kv::app
