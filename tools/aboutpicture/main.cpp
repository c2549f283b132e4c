// Draws the about window's picture, a stylised measuring device showing a trace, and writes it
// as a 220 x 193 baseline JPEG (JFIF, three 8-bit components); with an icon folder, also draws
// the program's icon with the same motif at the usual hicolor sizes, as
// ICON_DIR/NxN/apps/org.quendal.Quendal.png:
//     aboutpicture OUTPUT.jpg [ICON_DIR]
// The results are committed as app/About.jpg and data/icons/hicolor; run this again only to
// change them:  aboutpicture app/About.jpg data/icons/hicolor
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

constexpr int Width = 220;
constexpr int Height = 193;

// A damped oscillation settling on a level: what a sensor does after a step. AMid is the level
// before the step, AStep its height and ARing the first swing's height.
QPainterPath Trace(double ALeft, double AWidth, double AMid, double AStep, double ARing) {
    QPainterPath trace;
    for (int i = 0; i <= 100; ++i) {
        const double t = i / 100.0;
        const double x = ALeft + t * AWidth;
        const double step = t < 0.12 ? 0.0 : 1.0;
        const double ring =
            step * std::exp(-7.0 * (t - 0.12)) * std::sin(2 * std::numbers::pi * 5 * (t - 0.12));
        const double y = AMid - AStep * step + ARing * ring;
        if (i == 0)
            trace.moveTo(x, y);
        else
            trace.lineTo(x, y);
    }
    return trace;
}

void DrawScreen(QPainter& APainter, const QRectF& AScreen) {
    APainter.setPen(Qt::NoPen);
    APainter.setBrush(QColor(0x0b, 0x2a, 0x1a));
    APainter.drawRoundedRect(AScreen, 4, 4);

    APainter.setPen(QPen(QColor(0x1f, 0x4d, 0x33), 1));
    for (double x = AScreen.left() + 12; x < AScreen.right(); x += 12)
        APainter.drawLine(QPointF(x, AScreen.top() + 2), QPointF(x, AScreen.bottom() - 2));
    for (double y = AScreen.top() + 12; y < AScreen.bottom(); y += 12)
        APainter.drawLine(QPointF(AScreen.left() + 2, y), QPointF(AScreen.right() - 2, y));

    APainter.setBrush(Qt::NoBrush);
    APainter.setPen(QPen(QColor(0x7c, 0xfc, 0x9a), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    APainter.drawPath(
        Trace(AScreen.left() + 4, AScreen.width() - 8, AScreen.center().y() + 6, 22, 14));
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

// The icon: the picture's device seen closer, its screen with the trace filling most of it.
// Drawn for each size rather than scaled, so that small sizes drop the details that would
// only blur (grid, knobs, lights) and keep their lines at least a pixel and a half wide.
QImage DrawIcon(int ASize) {
    QImage image(ASize, ASize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 256-unit square; pixel is one device pixel in those units.
    const double scale = ASize / 256.0;
    const double pixel = 1 / scale;
    painter.scale(scale, scale);
    const bool small = ASize <= 32;
    const bool large = ASize >= 64;

    // Small icons use the whole square: a margin of a pixel or two would cost a fifth of them.
    const QRectF housing = small ? QRectF(8, 24, 240, 208) : QRectF(12, 36, 232, 184);
    painter.setPen(QPen(QColor(0x60, 0x7d, 0x8b), std::max(6.0, 1.5 * pixel)));
    painter.setBrush(QColor(0x37, 0x47, 0x4f));
    painter.drawRoundedRect(housing, 28, 28);

    const QRectF screen = small ? QRectF(36, 52, 184, 152) : QRectF(34, 58, 146, 124);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x0b, 0x2a, 0x1a));
    painter.drawRoundedRect(screen, 12, 12);
    if (large) {
        painter.setPen(QPen(QColor(0x1f, 0x4d, 0x33), std::max(2.0, pixel)));
        const double cell = 24;
        for (double x = screen.left() + cell; x < screen.right() - 4; x += cell)
            painter.drawLine(QPointF(x, screen.top() + 4), QPointF(x, screen.bottom() - 4));
        for (double y = screen.top() + cell; y < screen.bottom() - 4; y += cell)
            painter.drawLine(QPointF(screen.left() + 4, y), QPointF(screen.right() - 4, y));
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0x7c, 0xfc, 0x9a), std::max(8.0, 1.6 * pixel), Qt::SolidLine,
                        Qt::RoundCap, Qt::RoundJoin));
    const double inset = 12;
    painter.drawPath(Trace(screen.left() + inset, screen.width() - 2 * inset,
                           screen.center().y() + 0.2 * screen.height(), 0.4 * screen.height(),
                           0.28 * screen.height()));

    if (!small) {
        painter.setPen(QPen(QColor(0x26, 0x32, 0x38), std::max(4.0, pixel)));
        painter.setBrush(QColor(0xcf, 0xd8, 0xdc));
        const QPointF knob(212, 96);
        const double radius = 20;
        painter.drawEllipse(knob, radius, radius);
        painter.setPen(QPen(QColor(0x26, 0x32, 0x38), std::max(6.0, 1.2 * pixel), Qt::SolidLine,
                            Qt::RoundCap));
        painter.drawLine(knob, QPointF(knob.x() + std::cos(2.2) * (radius - 5),
                                       knob.y() - std::sin(2.2) * (radius - 5)));
        const QColor leds[] = {QColor(0x66, 0xbb, 0x6a), QColor(0xff, 0xca, 0x28),
                               QColor(0xef, 0x53, 0x50)};
        painter.setPen(Qt::NoPen);
        for (int i = 0; i < 3; ++i) {
            painter.setBrush(leds[i]);
            painter.drawEllipse(QPointF(212, 140 + 22 * i), 7, 7);
        }
    }
    painter.end();
    return image;
}

// The sizes the desktop's icon theme looks for first.
constexpr int IconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

bool WriteIcons(const QString& ADir) {
    for (const int size : IconSizes) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(ADir).arg(size);
        const QString path = folder + QStringLiteral("/org.quendal.Quendal.png");
        if (!QDir().mkpath(folder) || !DrawIcon(size).save(path, "PNG")) {
            std::fprintf(stderr, "aboutpicture: cannot write %s\n", qPrintable(path));
            return false;
        }
    }
    return true;
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
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: aboutpicture OUTPUT.jpg [ICON_DIR]\n");
        return 2;
    }
    // Text needs a GUI application for its fonts, but no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (!WriteJpeg(Draw(), argv[1])) return 1;
    return argc == 3 && !WriteIcons(QString::fromLocal8Bit(argv[2])) ? 1 : 0;
}
