// The main of the Qt test programs: GoogleTest with a QApplication for the widgets.
#include <QApplication>

#include <gtest/gtest.h>

namespace {

QtMessageHandler QtDefaultHandler = nullptr;

// The headless platform warns about every window feature it lacks (raise, keyboard grab, ...);
// those warnings say nothing about the code under test and would bury the ones that do.
void FilterMessages(QtMsgType AType, const QMessageLogContext& AContext, const QString& AText) {
    if (AText.startsWith(QLatin1String("This plugin does not support"))) return;
    QtDefaultHandler(AType, AContext, AText);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // CTest sets the platform; test discovery and runs by hand get the same headless one.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QtDefaultHandler = qInstallMessageHandler(FilterMessages);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
