// Draws the main window's pictures: the three 16 x 16 status lamps (JPEG,
// written with libjpeg) and the 156 x 21 banner (PNG with transparency), and
// the program's icon for the desktop menu in the sizes of the hicolor theme
// (<output folder>/hicolor/<n>x<n>/apps/qrb117.png).
//
//   make-pictures <output folder>
//
// The results are committed in data/pictures; run this again only when the
// look of a picture changes.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <jpeglib.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The status bar's face colour, so that the square lamp pictures blend in.
const QColor kFaceColour(0xF0, 0xF0, 0xF0);

const QColor kLampGreen(0x20, 0xB0, 0x30);

// A lit lamp in a 16 x 16 square of the painter's coordinates.
void PaintLamp(QPainter& painter, const QColor& colour) {
    QRadialGradient glow(QPointF(6.0, 6.0), 8.0);
    glow.setColorAt(0.0, colour.lighter(170));
    glow.setColorAt(0.6, colour);
    glow.setColorAt(1.0, colour.darker(150));
    painter.setBrush(glow);
    painter.setPen(QPen(colour.darker(220), 1.0));
    painter.drawEllipse(QRectF(1.5, 1.5, 13.0, 13.0));
}

QImage DrawLamp(const QColor& colour) {
    QImage image(16, 16, QImage::Format_RGB888);
    image.fill(kFaceColour);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    PaintLamp(painter, colour);
    return image;
}

// The program's icon: the front of a transceiver whose display shows an
// arrow going in (new firmware), a tuning knob and a lit green lamp. Drawn
// on a 256-unit square and scaled, so every size comes from one drawing.
QImage DrawIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 256.0, size / 256.0);

    QLinearGradient body(0, 48, 0, 208);
    body.setColorAt(0.0, QColor(0x4A, 0x50, 0x5A));
    body.setColorAt(1.0, QColor(0x1E, 0x22, 0x28));
    painter.setBrush(body);
    painter.setPen(QPen(QColor(0x10, 0x12, 0x16), 6.0));
    painter.drawRoundedRect(QRectF(12, 48, 232, 160), 24, 24);

    QLinearGradient display(0, 72, 0, 150);
    display.setColorAt(0.0, QColor(0xB8, 0xE8, 0xF8));
    display.setColorAt(1.0, QColor(0x58, 0xA8, 0xD0));
    painter.setBrush(display);
    painter.setPen(QPen(QColor(0x0C, 0x20, 0x30), 4.0));
    painter.drawRoundedRect(QRectF(32, 70, 124, 84), 8, 8);

    // The arrow down into the display.
    const QPointF arrow[] = {{80, 82},  {108, 82}, {108, 108}, {124, 108},
                             {94, 142}, {64, 108}, {80, 108}};
    painter.setBrush(QColor(0x10, 0x28, 0x60));
    painter.setPen(Qt::NoPen);
    painter.drawPolygon(arrow, static_cast<int>(std::size(arrow)));

    QRadialGradient knob(QPointF(188, 112), 48);
    knob.setColorAt(0.0, QColor(0xE8, 0xEA, 0xEE));
    knob.setColorAt(0.7, QColor(0x90, 0x96, 0xA0));
    knob.setColorAt(1.0, QColor(0x50, 0x56, 0x60));
    painter.setBrush(knob);
    painter.setPen(QPen(QColor(0x10, 0x12, 0x16), 4.0));
    painter.drawEllipse(QPointF(200, 124), 34, 34);
    painter.setPen(QPen(QColor(0x30, 0x34, 0x3A), 6.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(200, 124), QPointF(200, 98));

    painter.translate(36, 164);
    painter.scale(2.25, 2.25);
    PaintLamp(painter, kLampGreen);
    return image;
}

bool WriteJpeg(const QImage& picture, const std::string& path) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);  // default handler: reports and exits
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(rgb.width());
    info.image_height = static_cast<JDIMENSION>(rgb.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(rgb.constScanLine(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

QImage DrawBanner() {
    QImage image(156, 21, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // A tapering stripe under the lettering.
    QLinearGradient stripe(0, 0, 156, 0);
    stripe.setColorAt(0.0, QColor(0xB0, 0x10, 0x10));
    stripe.setColorAt(1.0, QColor(0xB0, 0x10, 0x10, 0));
    painter.fillRect(QRectF(0, 18, 156, 2), stripe);

    QFont big(QStringLiteral("Liberation Sans"));
    big.setPixelSize(16);
    big.setBold(true);
    big.setItalic(true);
    painter.setFont(big);
    painter.setPen(QColor(0x10, 0x28, 0x60));
    painter.drawText(QPointF(2, 15), QStringLiteral("RQ-7300"));

    QFont small(QStringLiteral("Liberation Sans"));
    small.setPixelSize(9);
    small.setBold(true);
    painter.setFont(small);
    painter.setPen(QColor(0x50, 0x50, 0x50));
    painter.drawText(QPointF(76, 15), QStringLiteral("HF TRANSCEIVER"));
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-pictures <output folder>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);  // fonts for the banner
    const std::string folder = argv[1];

    struct Lamp {
        const char* name;
        QColor colour;
    };
    const std::vector<Lamp> lamps = {
        {"lamp-red.jpg", QColor(0xE0, 0x20, 0x20)},
        {"lamp-yellow.jpg", QColor(0xF0, 0xC0, 0x10)},
        {"lamp-green.jpg", kLampGreen},
    };
    for (const Lamp& lamp : lamps) {
        if (!WriteJpeg(DrawLamp(lamp.colour), folder + "/" + lamp.name)) {
            std::fprintf(stderr, "make-pictures: cannot write %s\n", lamp.name);
            return 1;
        }
    }
    if (!DrawBanner().save(QString::fromStdString(folder + "/banner.png"), "PNG")) {
        std::fprintf(stderr, "make-pictures: cannot write banner.png\n");
        return 1;
    }
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
        const QString dir =
            QStringLiteral("%1/hicolor/%2x%2/apps").arg(QString::fromStdString(folder)).arg(size);
        if (!QDir().mkpath(dir) || !DrawIcon(size).save(dir + QStringLiteral("/qrb117.png"))) {
            std::fprintf(stderr, "make-pictures: cannot write the %d px icon\n", size);
            return 1;
        }
    }
    return 0;
}
