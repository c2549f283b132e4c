// The log pane over a log of its own: following the end and staying put, selecting with the
// keyboard and the mouse, copying, and a copy too large to take.
#include "LogView.h"

#include "MainFormFixture.h"

#include <QClipboard>
#include <QScrollBar>

namespace quendal {
namespace {

using cport::test::WaitFor;

class LogView : public MainForm {
protected:
    LogView()
        : FLog(TJournalFolder(Folder() + "/journals"))
        , FView(FLog) {
        FLog.SetOnChanged([this] { FView.LogChanged(); });
        FView.resize(145, 257);
        FView.show();
        FView.setFocus();
    }
    void Log(const std::string& AText) {
        FLog.Received(AText);
        QCoreApplication::processEvents();
    }
    void Key(Qt::Key AKey, Qt::KeyboardModifiers AModifiers = Qt::NoModifier) {
        QTest::keyClick(&FView, AKey, AModifiers);
    }

    TLog FLog;
    TLogView FView;
};

TEST_F(LogView, FollowsTheEndUntilTheUserScrollsUp) {
    for (int i = 0; i < 200; ++i)
        Log("+23." + std::to_string(100 + i) + " C\r\n");
    QScrollBar* bar = FView.verticalScrollBar();
    ASSERT_TRUE(WaitFor([&] { return bar->maximum() > 150 && bar->value() == bar->maximum(); }));
    EXPECT_TRUE(FView.Following());
    Key(Qt::Key_End, Qt::ControlModifier);
    Key(Qt::Key_PageUp);
    Key(Qt::Key_PageUp);
    EXPECT_FALSE(FView.Following());
    const int kept = bar->value(), end = bar->maximum();
    EXPECT_LT(kept, end);
    Log("+24.000 C\r\n");
    EXPECT_TRUE(WaitFor([&] { return bar->maximum() == end + 1; }));
    EXPECT_EQ(bar->value(), kept) << "stays put while scrolled up";
    Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_TRUE(FView.Following());
    Log("+24.001 C\r\n");
    EXPECT_TRUE(WaitFor([&] { return bar->maximum() == end + 2 && bar->value() == end + 2; }));
}

TEST_F(LogView, TheKeyboardAndTheMouseSelectAndCopyTakesTheText) {
    Log("first line\r\nsecond\r\nthird");
    Key(Qt::Key_Home, Qt::ControlModifier);
    Key(Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(FView.SelectedText(), "first line\n");
    Key(Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(FView.SelectedText(), "first line\nsecond");
    Key(Qt::Key_A, Qt::ControlModifier);
    Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "first line\nsecond\nthird");
    // A drag over the first line's first word, then a double click on the second's.
    const int line = FView.fontMetrics().lineSpacing();
    QTest::mousePress(FView.viewport(), Qt::LeftButton, {}, QPoint(1, line / 2));
    QTest::mouseMove(FView.viewport(), QPoint(FView.fontMetrics().horizontalAdvance("first") + 2, line / 2));
    QTest::mouseRelease(FView.viewport(), Qt::LeftButton, {}, QPoint(FView.fontMetrics().horizontalAdvance("first") + 2, line / 2));
    EXPECT_EQ(FView.SelectedText(), "first");
    QTest::mouseDClick(FView.viewport(), Qt::LeftButton, {}, QPoint(10, line + line / 2));
    EXPECT_EQ(FView.SelectedText(), "second");
}

TEST_F(LogView, ACopyOfMoreThanTheClipboardShouldHoldIsRefusedWithAMessage) {
    const std::string line(1022, 'x');
    for (std::uint64_t i = 0; i <= TLogView::MaxCopyBytes / 1024; ++i)
        FLog.Received(line + "\r\n");
    QApplication::clipboard()->setText("before");
    TMessageBoxes boxes;
    Key(Qt::Key_A, Qt::ControlModifier);
    Key(Qt::Key_C, Qt::ControlModifier);
    ASSERT_EQ(boxes.Texts().size(), 1);
    EXPECT_TRUE(boxes.Texts()[0].startsWith("The selection is too large to copy (32 MB)"))
        << boxes.Texts()[0].toStdString();
    EXPECT_EQ(QApplication::clipboard()->text(), "before");
}

} // namespace
} // namespace quendal
