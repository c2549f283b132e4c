// Pictures of the setup dialog and the about window, written as PNG files into the build
// folder so that their layout can be looked at.
#include "CPortSetup.h"
#include "Unit9.h"

#include "PortListFake.h"

#include <QPixmap>

#include <gtest/gtest.h>

namespace {

QString ShotPath(const char* AName) {
    return QStringLiteral(QUENDAL_SCREENSHOT_DIR "/") + QString::fromLatin1(AName);
}

TEST(Screenshots, SetupDialog) {
    cport::test::TPortListFake fake;
    fake.SetPorts({"COM1", "COM2", "ttyUSB0"});
    cport::TScopedComPlatform scope(fake);
    cport::TComPort port(nullptr);
    port.SetPort("ttyUSB0");
    port.SetBaudRate(cport::br115200);
    port.Parity().SetBits(cport::prEven);

    cport::TComSetupFrm form;
    for (cport::TComComboBox* combo :
         {form.Combo1, form.Combo2, form.Combo3, form.Combo4, form.Combo5, form.Combo6}) {
        combo->SetComPort(&port);
        combo->UpdateSettings();
    }
    form.show();
    const QPixmap shot = form.grab();
    EXPECT_EQ(shot.size(), QSize(231, 216));
    EXPECT_TRUE(shot.save(ShotPath("SetupDialog.png")));
}

TEST(Screenshots, AboutWindow) {
    quendal::TForm9 form;
    form.Show();
    const QPixmap shot = form.grab();
    EXPECT_EQ(shot.size(), QSize(218, 194));
    EXPECT_TRUE(shot.save(ShotPath("AboutWindow.png")));
}

} // namespace
