// Uses every installed header of the Qt part and the component, so that a header missing from
// the installed tree or a library missing from the link fails the build. It is built, not run.
#include <cport/CPortList.h>
#include <cport/CPortSetup.h>
#include <cport/CPortStorage.h>
#include <cport/MainThread.h>
#include <cport/PortPublish.h>
#include <cport/QtMainThread.h>

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    cport::InstallQtMainThreadAndSetupDialog();
    cport::TComPort port(nullptr);
    cport::TComComboBox box;
    box.SetComPort(&port);
    cport::TComSetupFrm form;
    cport::TRegistryAccess registry;
    const bool listed = !cport::ListComPortInfo().empty();
    cport::TMainThread::ProcessMessages();
    return cport::PublishPort("consumer", "/dev/null") == 0 && listed ? 0 : 1;
}
