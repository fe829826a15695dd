// Draws the main window's pictures: the three 16 x 16 status lamps (JPEG,
// written with libjpeg) and the 156 x 21 banner (PNG with transparency).
//
//   make-pictures <output folder>
//
// The results are committed in data/pictures; run this again only when the
// look of a picture changes.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <jpeglib.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The status bar's face colour, so that the square lamp pictures blend in.
const QColor kFaceColour(0xF0, 0xF0, 0xF0);

QImage DrawLamp(const QColor& colour) {
    QImage image(16, 16, QImage::Format_RGB888);
    image.fill(kFaceColour);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QRadialGradient glow(QPointF(6.0, 6.0), 8.0);
    glow.setColorAt(0.0, colour.lighter(170));
    glow.setColorAt(0.6, colour);
    glow.setColorAt(1.0, colour.darker(150));
    painter.setBrush(glow);
    painter.setPen(QPen(colour.darker(220), 1.0));
    painter.drawEllipse(QRectF(1.5, 1.5, 13.0, 13.0));
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
        {"lamp-green.jpg", QColor(0x20, 0xB0, 0x30)},
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
    return 0;
}
