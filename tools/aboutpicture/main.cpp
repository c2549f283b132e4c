// Draws the about window's picture, a stylised measuring device showing a trace, and writes it
// as a 220 x 193 baseline JPEG (JFIF, three 8-bit components):
//     aboutpicture OUTPUT.jpg
// The result is committed as app/About.jpg; run this again only to change the picture.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <jpeglib.h>

#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

constexpr int Width = 220;
constexpr int Height = 193;

void DrawScreen(QPainter& APainter, const QRectF& AScreen) {
    APainter.setPen(Qt::NoPen);
    APainter.setBrush(QColor(0x0b, 0x2a, 0x1a));
    APainter.drawRoundedRect(AScreen, 4, 4);

    APainter.setPen(QPen(QColor(0x1f, 0x4d, 0x33), 1));
    for (double x = AScreen.left() + 12; x < AScreen.right(); x += 12)
        APainter.drawLine(QPointF(x, AScreen.top() + 2), QPointF(x, AScreen.bottom() - 2));
    for (double y = AScreen.top() + 12; y < AScreen.bottom(); y += 12)
        APainter.drawLine(QPointF(AScreen.left() + 2, y), QPointF(AScreen.right() - 2, y));

    // A damped oscillation settling on a level: what a sensor does after a step.
    QPainterPath trace;
    const double mid = AScreen.center().y() + 6;
    for (int i = 0; i <= 100; ++i) {
        const double t = i / 100.0;
        const double x = AScreen.left() + 4 + t * (AScreen.width() - 8);
        const double step = t < 0.12 ? 0.0 : 1.0;
        const double ring =
            step * std::exp(-7.0 * (t - 0.12)) * std::sin(2 * std::numbers::pi * 5 * (t - 0.12));
        const double y = mid - 22 * step + 14 * ring;
        if (i == 0)
            trace.moveTo(x, y);
        else
            trace.lineTo(x, y);
    }
    APainter.setBrush(Qt::NoBrush);
    APainter.setPen(QPen(QColor(0x7c, 0xfc, 0x9a), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    APainter.drawPath(trace);
}

void DrawKnob(QPainter& APainter, QPointF ACentre, double ARadius, double AAngle) {
    APainter.setPen(QPen(QColor(0x26, 0x32, 0x38), 1.5));
    APainter.setBrush(QColor(0xcf, 0xd8, 0xdc));
    APainter.drawEllipse(ACentre, ARadius, ARadius);
    const QPointF tip(ACentre.x() + std::cos(AAngle) * (ARadius - 2),
                      ACentre.y() - std::sin(AAngle) * (ARadius - 2));
    APainter.setPen(QPen(QColor(0x26, 0x32, 0x38), 2, Qt::SolidLine, Qt::RoundCap));
    APainter.drawLine(ACentre, tip);
}

QImage Draw() {
    QImage image(Width, Height, QImage::Format_RGB888);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, Height);
    sky.setColorAt(0, QColor(0xe3, 0xea, 0xf2));
    sky.setColorAt(1, QColor(0xa9, 0xb9, 0xcc));
    painter.fillRect(image.rect(), sky);

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(20);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(QColor(0x1c, 0x2b, 0x3a));
    painter.drawText(QRectF(0, 6, Width, 28), Qt::AlignCenter, QStringLiteral("Quendal"));

    // The cable first, so that the housing covers its end.
    QPainterPath cable;
    cable.moveTo(150, 150);
    cable.cubicTo(150, 178, 196, 160, 204, 178);
    painter.setPen(QPen(QColor(0x26, 0x32, 0x38), 4, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(cable);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x90, 0xa4, 0xae));
    painter.drawRoundedRect(QRectF(196, 176, 18, 11), 2, 2);

    const QRectF housing(16, 40, 188, 112);
    painter.setPen(QPen(QColor(0x60, 0x7d, 0x8b), 2));
    painter.setBrush(QColor(0x37, 0x47, 0x4f));
    painter.drawRoundedRect(housing, 10, 10);

    DrawScreen(painter, QRectF(28, 52, 120, 72));
    DrawKnob(painter, QPointF(176, 70), 11, 2.2);
    DrawKnob(painter, QPointF(176, 104), 8, 0.6);

    const QColor leds[] = {QColor(0x66, 0xbb, 0x6a), QColor(0xff, 0xca, 0x28),
                           QColor(0xef, 0x53, 0x50)};
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i) {
        painter.setBrush(leds[i]);
        painter.drawEllipse(QPointF(36 + 12 * i, 138), 3.5, 3.5);
    }

    QFont caption(QStringLiteral("DejaVu Sans"));
    caption.setPixelSize(11);
    painter.setFont(caption);
    painter.setPen(QColor(0x1c, 0x2b, 0x3a));
    painter.drawText(QRectF(0, 160, 190, 28), Qt::AlignCenter,
                     QStringLiteral("serial data logger"));
    painter.end();
    return image;
}

bool WriteJpeg(const QImage& AImage, const char* APath) {
    std::FILE* file = std::fopen(APath, "wb");
    if (file == nullptr) {
        std::perror(APath);
        return false;
    }
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors); // a tool may simply exit on an encoder error
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(AImage.width());
    info.image_height = static_cast<JDIMENSION>(AImage.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info); // baseline sequential, JFIF header, standard Huffman tables
    jpeg_set_quality(&info, 88, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        // libjpeg's row type is not const, but it only reads the rows it is given.
        JSAMPROW row =
            const_cast<JSAMPROW>(AImage.constScanLine(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: aboutpicture OUTPUT.jpg\n");
        return 2;
    }
    // Text needs a GUI application for its fonts, but no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return WriteJpeg(Draw(), argv[1]) ? 0 : 1;
}
