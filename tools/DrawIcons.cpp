// Draws the tool's icons and logo into a folder: pxl_draw_icons OUTPUT_FOLDER
//
// Every image is drawn here from simple shapes, so the set stays consistent and can be redrawn at will.

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTextStream>

#include <cmath>
#include <initializer_list>

namespace {

// One palette for the whole set: flat colours, each used for one meaning.
const QColor kGreen(0x2E, 0x9D, 0x57);
const QColor kRed(0xD6, 0x45, 0x41);
const QColor kBlue(0x2F, 0x7D, 0xD1);
const QColor kGrey(0x8E, 0x96, 0x9F);
const QColor kSlate(0x3D, 0x4A, 0x5C);
const QColor kAmber(0xF5, 0xBE, 0x4A);
const QColor kAmberDark(0xD9, 0x93, 0x2B);
const QColor kNavy(0x1F, 0x4F, 0x8F);
const QColor kRust(0xC4, 0x62, 0x2D);
const QColor kWhite(0xFF, 0xFF, 0xFF);

QPolygonF Poly(std::initializer_list<QPointF> points)
{
    return QPolygonF(QVector<QPointF>(points));
}

constexpr double kPi = 3.14159265358979323846;

QPen RoundPen(const QColor& color, double width)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A filled polygon whose corners are rounded by a pen of the same colour.
void SoftPolygon(QPainter& p, const QPolygonF& polygon, const QColor& color, double rounding)
{
    p.setPen(RoundPen(color, rounding));
    p.setBrush(color);
    p.drawPolygon(polygon);
}

void Disc(QPainter& p, const QColor& color)
{
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QRectF(2, 2, 28, 28));
}

void DrawFlash(QPainter& p)
{
    QLinearGradient fill(0, 1, 0, 31);
    fill.setColorAt(0, kBlue);
    fill.setColorAt(1, kNavy);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6.5, 6.5);
    const QPolygonF bolt =
        Poly({{17, 3.5}, {23, 3.5}, {18.5, 12.5}, {24.5, 12.5}, {11.5, 28.5}, {14.5, 17.5}, {8, 17.5}});
    SoftPolygon(p, bolt, QColor(0xFF, 0xCC, 0x3D), 1.2);
}

void DrawFolder(QPainter& p)
{
    QPainterPath back;
    back.moveTo(3, 26);
    back.lineTo(3, 7);
    back.lineTo(11.5, 7);
    back.lineTo(14, 9.5);
    back.lineTo(27, 9.5);
    back.lineTo(27, 26);
    back.closeSubpath();
    p.setPen(RoundPen(kAmberDark, 1.5));
    p.setBrush(kAmberDark);
    p.drawPath(back);

    p.setPen(QPen(QColor(0xB8, 0xC0, 0xCA), 1));
    p.setBrush(kWhite);
    p.drawRect(QRectF(7.5, 11.5, 16, 10));

    const QPolygonF front = Poly({{7.5, 14.5}, {30, 14.5}, {26, 26}, {3, 26}});
    SoftPolygon(p, front, kAmber, 1.5);
}

void DrawStart(QPainter& p)
{
    SoftPolygon(p, Poly({{10, 6.5}, {26, 16}, {10, 25.5}}), kGreen, 3.5);
}

void DrawStop(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawRoundedRect(QRectF(6.5, 6.5, 19, 19), 3, 3);
}

void DrawRefresh(QPainter& p)
{
    const QPointF centre(16, 16.5);
    const double radius = 9.5;
    const double startDegrees = 65;
    const double spanDegrees = -285;
    p.setPen(QPen(kBlue, 3.6, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius),
              static_cast<int>(startDegrees * 16), static_cast<int>(spanDegrees * 16));

    // The head sits on the arc's end and points along its clockwise tangent.
    const double end = (startDegrees + spanDegrees) * kPi / 180.0;
    const QPointF tip(centre.x() + radius * std::cos(end), centre.y() - radius * std::sin(end));
    const QPointF along(std::sin(end), std::cos(end));
    const QPointF across(-along.y(), along.x());
    const QPolygonF head = Poly({tip + along * 5.5, tip + across * 5.2, tip - across * 5.2});
    SoftPolygon(p, head, kBlue, 1.0);
}

void DrawStatusUnknown(QPainter& p)
{
    Disc(p, kGrey);
    QPainterPath hook;
    hook.moveTo(11.8, 12.6);
    hook.arcTo(QRectF(11.8, 8.4, 8.4, 8.4), 180, -235);
    hook.quadTo(16, 16.8, 16, 19.2);
    p.setPen(RoundPen(kWhite, 3.2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(hook);
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    p.drawEllipse(QPointF(16, 23.6), 2.0, 2.0);
}

void DrawStatusOk(QPainter& p)
{
    Disc(p, kGreen);
    p.setPen(RoundPen(kWhite, 3.6));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(Poly({{9.5, 16.5}, {14, 21}, {22.5, 11.5}}));
}

void DrawStatusFail(QPainter& p)
{
    Disc(p, kRed);
    p.setPen(RoundPen(kWhite, 3.6));
    p.drawLine(QPointF(11, 11), QPointF(21, 21));
    p.drawLine(QPointF(21, 11), QPointF(11, 21));
}

void DrawDownload(QPainter& p)
{
    p.setPen(RoundPen(kSlate, 3.2));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(Poly({{4.5, 19}, {4.5, 26.5}, {27.5, 26.5}, {27.5, 19}}));

    p.setPen(QPen(kBlue, 4, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(16, 3.5), QPointF(16, 14));
    SoftPolygon(p, Poly({{9, 12.5}, {23, 12.5}, {16, 21.5}}), kBlue, 1.5);
}

void DrawCom(QPainter& p)
{
    // The face of a nine-pin serial connector: a metal shell, a dark insert and two rows of pins.
    const QPolygonF shell = Poly({{2.5, 8}, {29.5, 8}, {26, 24}, {6, 24}});
    SoftPolygon(p, shell, kGrey, 3);
    const QPolygonF insert = Poly({{5.5, 10.5}, {26.5, 10.5}, {23.8, 21.5}, {8.2, 21.5}});
    SoftPolygon(p, insert, kSlate, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xF2, 0xD0, 0x7A));
    for (int pin = 0; pin < 5; ++pin) {
        p.drawEllipse(QPointF(9.2 + pin * 3.4, 14), 1.25, 1.25);
    }
    for (int pin = 0; pin < 4; ++pin) {
        p.drawEllipse(QPointF(10.9 + pin * 3.4, 18.2), 1.25, 1.25);
    }
}

// A kestrel hovering seen from below: pointed, swept wings and a long tail.
void DrawKestrel(QPainter& p, const QPointF& at, double scale)
{
    p.save();
    p.translate(at);
    p.scale(scale, scale);
    QPainterPath bird;
    bird.moveTo(0, -22);
    bird.cubicTo(4, -22, 5, -17, 4.5, -13);
    // Right wing: leading edge out to the tip, trailing edge back to the body.
    bird.cubicTo(16, -22, 40, -20, 62, -4);
    bird.cubicTo(44, -6, 34, -2, 24, 1);
    bird.cubicTo(16, 3, 10, 4, 6, 5);
    // Tail, slightly fanned with a straight end.
    bird.lineTo(8.5, 30);
    bird.lineTo(-8.5, 30);
    bird.lineTo(-6, 5);
    bird.cubicTo(-10, 4, -16, 3, -24, 1);
    bird.cubicTo(-34, -2, -44, -6, -62, -4);
    bird.cubicTo(-40, -20, -16, -22, -4.5, -13);
    bird.cubicTo(-5, -17, -4, -22, 0, -22);
    p.setPen(RoundPen(kRust, 1.2));
    p.setBrush(kRust);
    p.drawPath(bird);
    // A darker band across the tail end, as the bird carries one.
    p.setPen(Qt::NoPen);
    p.setBrush(kSlate);
    p.drawPolygon(Poly({{-8.1, 25}, {8.1, 25}, {8.5, 30}, {-8.5, 30}}));
    p.restore();
}

void DrawLogo(QPainter& p)
{
    DrawKestrel(p, QPointF(100, 44), 1.25);

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(19);
    font.setBold(true);
    p.setFont(font);
    const QString maker = QStringLiteral("Kestrane ");
    const QString product = QStringLiteral("Praxilo");
    const QFontMetricsF metrics(font);
    const double width = metrics.horizontalAdvance(maker) + metrics.horizontalAdvance(product);
    const double left = (200 - width) / 2;
    const double baseline = 108;
    p.setPen(kSlate);
    p.drawText(QPointF(left, baseline), maker);
    p.setPen(kBlue);
    p.drawText(QPointF(left + metrics.horizontalAdvance(maker), baseline), product);
}

struct Image
{
    const char* name;
    int width;
    int height;
    // The drawing's own coordinate space, scaled to the image size.
    double logicalWidth;
    double logicalHeight;
    void (*draw)(QPainter&);
};

const Image kImages[] = {
    {"flash.png", 64, 64, 32, 32, DrawFlash},
    {"folder.png", 32, 32, 32, 32, DrawFolder},
    {"start.png", 32, 32, 32, 32, DrawStart},
    {"stop.png", 32, 32, 32, 32, DrawStop},
    {"refresh.png", 32, 32, 32, 32, DrawRefresh},
    {"status_und.png", 32, 32, 32, 32, DrawStatusUnknown},
    {"status_ok.png", 32, 32, 32, 32, DrawStatusOk},
    {"status_fail.png", 32, 32, 32, 32, DrawStatusFail},
    {"download.png", 32, 32, 32, 32, DrawDownload},
    {"com.png", 32, 32, 32, 32, DrawCom},
    {"kestrane-logo.png", 200, 120, 200, 120, DrawLogo},
};

QImage Render(const Image& image)
{
    QImage canvas(image.width, image.height, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.scale(image.width / image.logicalWidth, image.height / image.logicalHeight);
    image.draw(painter);
    painter.end();
    return canvas;
}

} // namespace

int main(int argc, char* argv[])
{
    // No display is needed: the images are painted into memory.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() != 2) {
        err << "usage: pxl_draw_icons OUTPUT_FOLDER\n";
        return 2;
    }
    const QDir folder(args.at(1));
    if (!QDir().mkpath(folder.path())) {
        err << "cannot create " << folder.path() << '\n';
        return 1;
    }
    int failures = 0;
    for (const Image& image : kImages) {
        const QString path = folder.filePath(QString::fromLatin1(image.name));
        if (!Render(image).save(path, "PNG")) {
            err << "cannot write " << path << '\n';
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
