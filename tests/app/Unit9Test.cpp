// The about window and its picture: decoding with libjpeg, errors instead of an exit for a
// broken picture, and showing and hiding the one window object.
#include "Unit9.h"

#include "JpegImage.h"
#include "QtTestSupport.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>

namespace quendal {
namespace {

using namespace std::chrono_literals;

QByteArray PictureBytes() {
    QFile file(QStringLiteral(":/quendal/About.jpg"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

QImage Decode(const QByteArray& ABytes) {
    return DecodeJpeg(ABytes.constData(), static_cast<std::size_t>(ABytes.size()));
}

// The decoder's message for ABytes, or "" when it decodes.
std::string DecodeError(const QByteArray& ABytes) {
    try {
        Decode(ABytes);
    } catch (const EJpegError& e) {
        return e.what();
    }
    return "";
}

TEST(AboutPicture, DecodesTo220By193AsQtsOwnDecoderDoes) {
    const QByteArray bytes = PictureBytes();
    const QImage image = Decode(bytes);
    ASSERT_EQ(image.size(), QSize(220, 193));

    // An independent decoder must see the same picture, give or take rounding.
    const QImage reference = QImage::fromData(bytes, "JPG").convertToFormat(QImage::Format_RGB888);
    ASSERT_EQ(reference.size(), image.size());
    int worst = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor a = image.pixelColor(x, y);
            const QColor b = reference.pixelColor(x, y);
            worst = std::max({worst, std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                              std::abs(a.blue() - b.blue())});
        }
    EXPECT_LE(worst, 3);
    // Not blank: the light background at the top, the dark housing in the middle.
    EXPECT_GT(image.pixelColor(4, 4).lightness(), 180);
    EXPECT_LT(image.pixelColor(100, 140).lightness(), 100);
}

TEST(AboutPicture, BrokenDataGivesAnErrorInsteadOfAnExit) {
    const QByteArray good = PictureBytes();

    EXPECT_NE(DecodeError(QByteArray()), "");
    EXPECT_NE(DecodeError("GIF89a, not a JPEG").find("Not a JPEG file"), std::string::npos)
        << DecodeError("GIF89a, not a JPEG");
    // Cut off in the middle of the image data: the decoder would fill the rest with grey.
    EXPECT_NE(DecodeError(good.left(good.size() / 2)), "");
    // Cut off inside the headers.
    EXPECT_NE(DecodeError(good.left(100)), "");
    // The frame header's height (bytes 5 and 6 after its marker) made zero.
    QByteArray badFrame = good;
    const qsizetype sof = badFrame.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    badFrame[sof + 5] = 0;
    badFrame[sof + 6] = 0;
    EXPECT_NE(DecodeError(badFrame), "");

    // The decoder is still usable afterwards.
    EXPECT_EQ(Decode(good).size(), QSize(220, 193));
}

class AboutWindow : public ::testing::Test {
protected:
    TForm9 Form;
};

TEST_F(AboutWindow, IsCreatedHiddenWithItsFixedLook) {
    EXPECT_FALSE(Form.isVisible());
    EXPECT_EQ(Form.windowTitle(), "   About");
    EXPECT_EQ(Form.size(), QSize(218, 194));
    EXPECT_EQ(Form.minimumSize(), Form.maximumSize()) << "resizable";
    EXPECT_EQ(Form.pos(), QPoint(389, 287));
    EXPECT_EQ(Form.windowType(), Qt::Tool);
    EXPECT_EQ(Form.Image1->geometry(), QRect(0, 0, 220, 193));
    EXPECT_EQ(Form.Image1->pixmap().size(), QSize(220, 193));
}

TEST_F(AboutWindow, AClickOnThePictureHidesItAndShowingBringsBackTheSameWindow) {
    Form.Show();
    ASSERT_TRUE(Form.isVisible());
    Form.move(400, 300);
    QTest::mouseClick(Form.Image1, Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_FALSE(Form.isVisible());

    Form.Show();
    EXPECT_TRUE(Form.isVisible());
    EXPECT_EQ(Form.pos(), QPoint(400, 300));
    // Showing it while it is visible keeps it shown.
    Form.Show();
    EXPECT_TRUE(Form.isVisible());
}

TEST_F(AboutWindow, ClosingItOnlyHidesItAndNeverEndsTheProgram) {
    ASSERT_TRUE(QApplication::quitOnLastWindowClosed());
    int lastClosed = 0;
    const auto counter =
        QObject::connect(qApp, &QGuiApplication::lastWindowClosed, [&] { ++lastClosed; });
    QPointer<TForm9> form(&Form);
    bool closed = false;
    // The program's own event loop must run: only then does closing a last window end it.
    QTimer::singleShot(0, &Form, [&] {
        Form.Show();
        closed = Form.close();
        QCoreApplication::exit(0);
    });
    QTimer deadline; // a member of this test only, so that it cannot end a later test's loop
    deadline.setSingleShot(true);
    deadline.callOnTimeout([] { QCoreApplication::exit(1); });
    deadline.start(10s);
    EXPECT_EQ(QApplication::exec(), 0);
    QObject::disconnect(counter);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(Form.isVisible());
    EXPECT_FALSE(form.isNull());
    EXPECT_EQ(lastClosed, 0);
}

} // namespace
} // namespace quendal
