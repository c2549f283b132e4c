// The log pane over a log of its own: following the end and staying put, selecting with the
// keyboard and the mouse, copying, and a copy too large to take.
#include "LogView.h"

#include "MainFormFixture.h"

#include <QClipboard>
#include <QInputDialog>
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
    QTest::mouseMove(FView.viewport(),
                     QPoint(FView.fontMetrics().horizontalAdvance("first") + 2, line / 2));
    QTest::mouseRelease(FView.viewport(), Qt::LeftButton, {},
                        QPoint(FView.fontMetrics().horizontalAdvance("first") + 2, line / 2));
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

TEST_F(LogView, TimesHexAndFindWorkOnTheSameLog) {
    std::int64_t now = 1'765'200'000'000;
    FLog.SetClock([&] { return now; });
    Log("+23.001 \xB0"
        "C\r\n");
    now += 350;
    Log("+23.002 \xB0"
        "C\r\n");
    FView.SetShowStamps(true); // for lines that came before too
    EXPECT_EQ(FView.ShownRow(1),
              QString::fromStdString(StampText(now)) + QString::fromUtf8("  +23.002 °C"));
    Key(Qt::Key_End, Qt::ControlModifier);
    Key(Qt::Key_Home, Qt::ControlModifier);
    Key(Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(FView.SelectedText(), QString::fromUtf8("+23.001 °C"))
        << "a time is no text of the log";

    FView.SetHexView(true);
    EXPECT_EQ(FView.ShownRow(0),
              QString::fromUtf8(
                  "00000000  2B 32 33 2E 30 30 31 20 B0 43 0D 0A 2B 32 33 2E  +23.001 °C..+23."));
    EXPECT_EQ(FView.ShownRow(1).left(24), "00000010  30 30 32 20 B0");
    Key(Qt::Key_Home, Qt::ControlModifier);
    for (int i = 0; i < 16; ++i)
        Key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(FView.SelectedText(), QString::fromUtf8("+23.001 °C\n+23.")) << "byte by byte";
    FView.SetHexView(false);

    // Found forward from the caret, then backward; one that is missing says so.
    QString asked = "23.00";
    cport::test::TModalDriver answer(cport::test::Once([&](QWidget* AModal) {
        auto* dialog = qobject_cast<QInputDialog*>(AModal);
        ASSERT_NE(dialog, nullptr);
        dialog->setTextValue(asked);
        dialog->accept();
    }));
    Key(Qt::Key_Home, Qt::ControlModifier);
    Key(Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(answer.Done());
    ASSERT_TRUE(WaitFor([&] { return FView.SelectionEnd() > FView.SelectionStart(); }));
    EXPECT_EQ(FView.SelectionStart(), 1u);
    Key(Qt::Key_F3);
    ASSERT_TRUE(WaitFor([&] { return FView.SelectionStart() == 13u; }));
    Key(Qt::Key_F3, Qt::ShiftModifier);
    ASSERT_TRUE(WaitFor([&] { return FView.SelectionStart() == 1u; }));
    TMessageBoxes boxes;
    Key(Qt::Key_F3, Qt::ShiftModifier);
    ASSERT_TRUE(WaitFor([&] { return boxes.Texts().size() == 1; }));
    EXPECT_EQ(boxes.Texts()[0], "\"23.00\" was not found.");
}

} // namespace
} // namespace quendal
