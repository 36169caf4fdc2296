// Draws every image the program shows, from vectors, so the pictures can be
// changed in code and regenerated without an image editor. Glyphs are paths,
// never text, so the output does not depend on the fonts of the machine.
//
//   drawicons <images-dir> [<icons-dir>]
//
// <images-dir> receives the resource images and Trelvant.ico; <icons-dir>,
// if given, receives trelvant-<N>.png for the desktop icon theme.

#include <QBuffer>
#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <cstdio>

namespace {

// The platform is designed on a 32 x 32 grid and scaled for other sizes.
constexpr qreal kPlatformGrid = 32.0;
constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};
constexpr int kJpegQuality = 95;
const QColor kQtGreen(0x41, 0xcd, 0x52);

// Top face runs back-left to front-right: edge, bright band, far edge.
struct BoxColours
{
    QColor topEdge, topBand, topFar, front, side, outline;
};

const BoxColours kCopper{QColor(0xee, 0xad, 0x7c), QColor(0xfb, 0xdb, 0xbc),
                         QColor(0xd6, 0x88, 0x50), QColor(0xc0, 0x6e, 0x3c),
                         QColor(0x9e, 0x55, 0x2c), QColor(0x66, 0x33, 0x18)};
const BoxColours kRed{QColor(0xf2, 0x5c, 0x4c), QColor(0xff, 0xa8, 0x9c), QColor(0xd8, 0x30, 0x24),
                      QColor(0xb8, 0x20, 0x18), QColor(0x94, 0x16, 0x10), QColor(0x5a, 0x0c, 0x08)};
const BoxColours kHousing{QColor(0x80, 0x78, 0x74), QColor(0x90, 0x88, 0x84),
                          QColor(0x70, 0x68, 0x64), QColor(0x5a, 0x52, 0x4e),
                          QColor(0x46, 0x3f, 0x3b), QColor(0x26, 0x21, 0x1e)};

QImage canvas(int width, int height, const QColor &background = Qt::transparent)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    return image;
}

void antialias(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing);
}

// A box seen in oblique projection: `front` is the top-left corner of its
// front face, `depth` runs from the front edge to the back edge of the top.
void drawBox(QPainter &p, QPointF front, qreal width, QPointF depth, qreal height,
             const BoxColours &c, qreal outlineWidth)
{
    const QPointF across(width, 0), down(0, height);
    const QPolygonF top{front, front + across, front + across + depth, front + depth};
    const QPolygonF face{front, front + across, front + across + down, front + down};
    const QPolygonF side{front + across, front + across + depth, front + across + depth + down,
                         front + across + down};

    QPen pen(c.outline, outlineWidth);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);

    QLinearGradient sheen(front + depth, front + across);
    sheen.setColorAt(0, c.topEdge);
    sheen.setColorAt(0.45, c.topBand);
    sheen.setColorAt(1, c.topFar);
    p.setBrush(sheen);
    p.drawPolygon(top);

    QLinearGradient shade(front, front + down);
    shade.setColorAt(0, c.front.lighter(112));
    shade.setColorAt(1, c.front);
    p.setBrush(shade);
    p.drawPolygon(face);
    p.setBrush(c.side);
    p.drawPolygon(side);
}

// The weighing plate resting on the low housing of the scale.
QImage platform(int size, const BoxColours &colours)
{
    QImage image = canvas(size, size);
    QPainter p(&image);
    antialias(p);
    const qreal scale = size / kPlatformGrid;
    p.scale(scale, scale);
    // One device pixel at 32 and below, growing slower than the picture above.
    const qreal outline = qMax(1.0, 1.0 + (scale - 1.0) * 0.4) / scale;

    drawBox(p, {4.5, 23.5}, 17, {6, -9}, 4, kHousing, outline);
    drawBox(p, {1.5, 18.5}, 21, {8, -12}, 4, colours, outline);

    // A thin bright rim along the back and left edges gives the plate a lip;
    // below 32 pixels it would only wash out the outline.
    if (scale < 1.0)
        return image;
    QPen rim(QColor(255, 255, 255, 150), outline);
    rim.setCapStyle(Qt::RoundCap);
    p.setPen(rim);
    p.drawPolyline(QPolygonF{{3.4, 17.5}, {9.9, 7.5}, {28.6, 7.5}});
    return image;
}

QLinearGradient blueSignGradient(const QRectF &r)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(0x6c, 0xb4, 0xf5));
    g.setColorAt(1, QColor(0x17, 0x5a, 0xc0));
    return g;
}

const QColor kBlueRim(0x10, 0x46, 0x96);

// Blue disc with a darker rim, filling `r`.
void drawBlueSign(QPainter &p, const QRectF &r, qreal rimWidth)
{
    const qreal half = rimWidth / 2;
    p.setPen(QPen(kBlueRim, rimWidth));
    p.setBrush(blueSignGradient(r));
    p.drawEllipse(r.adjusted(half, half, -half, -half));
}

QImage info()
{
    QImage image = canvas(16, 16);
    QPainter p(&image);
    antialias(p);
    drawBlueSign(p, QRectF(0, 0, 16, 16), 1);
    // Edges on whole pixels, and a clear pixel row between dot and stem,
    // keep the letter sharp at this size.
    QPainterPath letter;
    letter.addRoundedRect(QRectF(7, 3, 2, 2), 0.7, 0.7);
    letter.addRect(QRectF(7, 6, 2, 7));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(letter);
    return image;
}

QImage help()
{
    QImage image = canvas(60, 64);
    QPainter p(&image);
    antialias(p);
    drawBlueSign(p, QRectF(0, 2, 60, 60), 2);

    // Soft gloss on the upper half of the disc.
    QLinearGradient gloss(0, 4, 0, 30);
    gloss.setColorAt(0, QColor(255, 255, 255, 110));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawEllipse(QRectF(9, 4, 42, 26));

    const QRectF hook(20.5, 12, 19, 19);
    QPainterPath mark;
    mark.arcMoveTo(hook, 160);
    mark.arcTo(hook, 160, -222);
    mark.quadTo(30, 33.5, 30, 39.5);
    QPen pen(Qt::white, 7.2);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(mark);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(30, 48.5), 4.3, 4.3);
    return image;
}

QImage exitSign()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    antialias(p);
    const QRectF square(0.5, 0.5, 31, 31);
    QLinearGradient red(square.topLeft(), square.bottomLeft());
    red.setColorAt(0, QColor(0xf7, 0x6d, 0x62));
    red.setColorAt(1, QColor(0xc4, 0x1c, 0x16));
    p.setPen(QPen(QColor(0x8e, 0x12, 0x0e), 1));
    p.setBrush(red);
    p.drawRoundedRect(square, 7, 7);

    // Power symbol: a ring open at the top, and a bar through the opening.
    const QRectF ring(8, 9, 16, 16);
    QPainterPath power;
    power.arcMoveTo(ring, 125);
    power.arcTo(ring, 125, 290);
    power.moveTo(16, 6.5);
    power.lineTo(16, 15);
    QPen pen(Qt::white, 3);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(power);
    return image;
}

QImage star()
{
    constexpr int points = 5;
    constexpr qreal outer = 22.5, inner = 10.0;
    QImage image = canvas(48, 48);
    QPainter p(&image);
    antialias(p);
    // The tips reach further up than down; this centres the star's box.
    const QPointF centre(24, 24 + outer * (1 - qCos(M_PI / points)) / 2);
    auto at = [&](int i, qreal radius) {
        const qreal angle = -M_PI / 2 + i * M_PI / points;
        return centre + QPointF(qCos(angle), qSin(angle)) * radius;
    };

    // Each arm is two facets, one lit and one in shade, for a bevelled look.
    const QColor lit(0xff, 0xe0, 0x4a), shaded(0xf0, 0xaa, 0x00);
    p.setPen(Qt::NoPen);
    QPolygonF outline;
    for (int i = 0; i < 2 * points; ++i) {
        const bool tip = i % 2 == 0;
        const QPointF here = at(i, tip ? outer : inner);
        const QPointF next = at(i + 1, tip ? inner : outer);
        p.setBrush(tip ? lit : shaded);
        p.drawPolygon(QPolygonF{centre, here, next});
        outline << here;
    }
    QPen edge(QColor(0xa8, 0x6c, 0x00), 1.2);
    edge.setJoinStyle(Qt::RoundJoin);
    p.setPen(edge);
    p.setBrush(Qt::NoBrush);
    p.drawPolygon(outline);
    return image;
}

QImage sphere()
{
    QImage image = canvas(40, 40);
    QPainter p(&image);
    antialias(p);
    const QPointF centre(20, 20);
    constexpr qreal radius = 19.5;
    QRadialGradient body(centre, radius, QPointF(14, 12));
    body.setColorAt(0.0, QColor(0xc8, 0xff, 0xb0));
    body.setColorAt(0.35, QColor(0x5c, 0xd0, 0x44));
    body.setColorAt(0.8, QColor(0x24, 0x8a, 0x1c));
    body.setColorAt(1.0, QColor(0x10, 0x52, 0x0c));
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawEllipse(centre, radius, radius);

    QLinearGradient shine(0, 3, 0, 19);
    shine.setColorAt(0, QColor(255, 255, 255, 220));
    shine.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(shine);
    p.drawEllipse(QRectF(9, 3, 22, 15));
    return image;
}

// Green plate with two cut corners and the white letters "Qt".
QImage qtLogo()
{
    constexpr int side = 512;
    QImage image = canvas(side, side, Qt::white);
    QPainter p(&image);
    antialias(p);

    const QRectF plate(16, 72, 480, 368);
    constexpr qreal cut = 84;
    const QPolygonF shape{plate.topLeft() + QPointF(cut, 0),
                          plate.topRight(),
                          plate.bottomRight() - QPointF(0, cut),
                          plate.bottomRight() - QPointF(cut, 0),
                          plate.bottomLeft(),
                          plate.topLeft() + QPointF(0, cut)};
    p.setPen(Qt::NoPen);
    p.setBrush(kQtGreen);
    p.drawPolygon(shape);

    QPen pen(Qt::white, 38);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);

    // Q: a rounded ring with a tail leaving it at the lower right.
    const QRectF ring(110, 150, 170, 212);
    p.drawRoundedRect(ring, 70, 70);
    p.drawLine(QPointF(222, 318), QPointF(282, 392));

    // t: stem bending into a foot, and a cross bar.
    QPainterPath t;
    t.moveTo(352, 150);
    t.lineTo(352, 318);
    t.quadTo(352, 354, 388, 354);
    t.lineTo(406, 354);
    p.drawPath(t);
    p.drawLine(QPointF(312, 222), QPointF(406, 222));
    return image;
}

bool save(const QImage &image, const QString &path, const char *format, int quality = -1)
{
    QImageWriter writer(path, format);
    if (quality >= 0)
        writer.setQuality(quality);
    const QImage out = QByteArray(format) == "jpg" ? image.convertToFormat(QImage::Format_RGB32)
                                                   : image.convertToFormat(QImage::Format_ARGB32);
    if (!writer.write(out)) {
        std::fprintf(stderr, "drawicons: %s: %s\n", qPrintable(path),
                     qPrintable(writer.errorString()));
        return false;
    }
    return true;
}

// Windows icon holding one 32 x 32, 32-bit image. Uses Qt's ico writer when
// present; otherwise writes the container itself around a PNG payload, which
// Windows accepts since Vista.
bool saveIco(const QImage &image, const QString &path)
{
    if (QImageWriter::supportedImageFormats().contains("ico"))
        return save(image, path, "ico");

    QByteArray payload;
    QBuffer buffer(&payload);
    buffer.open(QIODevice::WriteOnly);
    if (!image.convertToFormat(QImage::Format_ARGB32).save(&buffer, "png"))
        return false;

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    constexpr quint16 iconType = 1, imageCount = 1, planes = 1, bitsPerPixel = 32;
    constexpr quint32 headerSize = 6 + 16; // ICONDIR + one ICONDIRENTRY
    out << quint16(0) << iconType << imageCount;
    out << quint8(image.width()) << quint8(image.height()) << quint8(0) << quint8(0) << planes
        << bitsPerPixel << quint32(payload.size()) << headerSize;
    out.writeRawData(payload.constData(), int(payload.size()));
    return out.status() == QDataStream::Ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 3) {
        std::fprintf(stderr, "usage: drawicons <images-dir> [<icons-dir>]\n");
        return 2;
    }
    const QDir images(args.at(1));
    if (!QDir().mkpath(images.path()))
        return 1;

    const QImage copper = platform(32, kCopper);
    bool ok = save(copper, images.filePath(QStringLiteral("Gravex.png")), "png") &&
              save(platform(32, kRed), images.filePath(QStringLiteral("NewMessage.png")), "png") &&
              save(info(), images.filePath(QStringLiteral("Info.png")), "png") &&
              save(qtLogo(), images.filePath(QStringLiteral("QtLogo.jpg")), "jpg", kJpegQuality) &&
              save(star(), images.filePath(QStringLiteral("About.png")), "png") &&
              save(sphere(), images.filePath(QStringLiteral("Lic.png")), "png") &&
              save(help(), images.filePath(QStringLiteral("Help.png")), "png") &&
              save(exitSign(), images.filePath(QStringLiteral("Exit.png")), "png") &&
              saveIco(copper, images.filePath(QStringLiteral("Trelvant.ico")));

    if (ok && args.size() == 3) {
        const QDir icons(args.at(2));
        ok = QDir().mkpath(icons.path());
        for (int size : kIconSizes) {
            const QString name = QStringLiteral("trelvant-%1.png").arg(size);
            ok = ok && save(platform(size, kCopper), icons.filePath(name), "png");
        }
    }
    return ok ? 0 : 1;
}
