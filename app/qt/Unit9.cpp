#include "Unit9.h"

#include "JpegImage.h"

#include <QFile>
#include <QMouseEvent>
#include <QPixmap>

namespace quendal {

namespace {

QPixmap LoadPicture() {
    QFile file(QStringLiteral(":/quendal/About.jpg"));
    if (!file.open(QIODevice::ReadOnly)) throw EJpegError("The about picture is missing");
    const QByteArray bytes = file.readAll();
    return QPixmap::fromImage(
        DecodeJpeg(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

} // namespace

void TImage::mouseReleaseEvent(QMouseEvent* AEvent) {
    QLabel::mouseReleaseEvent(AEvent);
    if (AEvent->button() == Qt::LeftButton && rect().contains(AEvent->position().toPoint()))
        emit Click();
}

TForm9::TForm9(QWidget* AParent)
    : QWidget(AParent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("Form9"));
    setWindowTitle(QStringLiteral("   About"));
    // Closing this window only hides it, and it must never count as the program's last
    // window: Qt leaves tool windows out of that count, and the attribute says so whatever
    // the window's type.
    setAttribute(Qt::WA_QuitOnClose, false);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    // The strip below the picture shows the background, drawn in the caption text colour;
    // Qt has no such role, and its nearest standard is the window text colour.
    QPalette colours = palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::WindowText));
    setPalette(colours);
    setAutoFillBackground(true);
    move(389, 287);
    setFixedSize(218, 194);

    Image1 = new TImage(this);
    Image1->setPixmap(LoadPicture());
    // The picture is two pixels wider than the window, which cuts off its right edge.
    Image1->setGeometry(0, 0, Image1->pixmap().width(), Image1->pixmap().height());
    connect(Image1, &TImage::Click, this, &TForm9::Image1Click);
}

void TForm9::Show() {
    show();
    raise();
    activateWindow();
}

void TForm9::Image1Click() {
    close();
}

} // namespace quendal
