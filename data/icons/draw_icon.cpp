// Draws the Harborwatch icon: three white nodes joined into a triangle, a small
// network, on a round blue badge with a dark rim. The blue carries the icon on
// dark panels, the rim on light ones. Writes the hicolor PNGs and the scalable
// SVG from the same geometry:
//
//     draw_icon <output-dir>   ->  <output-dir>/<N>x<N>/apps/harborwatch.png
//                                  <output-dir>/scalable/apps/harborwatch.svg
//
// The PNGs are committed; the "harborwatch-icons" build target reruns this.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPointF>
#include <QString>

#include <array>
#include <cstdio>

namespace {

// All lengths are in units of a 32 x 32 canvas.
constexpr double canvas = 32;
constexpr std::array<QPointF, 3> nodes{{{16, 8}, {8, 21.5}, {24, 21.5}}};
const QColor badgeTop(0x2f, 0x8e, 0xe6);
const QColor badgeBottom(0x12, 0x59, 0xb3);
const QColor ink(0x0a, 0x2f, 0x66);
constexpr double nodeOutline = 1;

struct Strokes {
    double edge; // width of the lines between the nodes
    double node; // node radius
    double rim;  // width of the badge's outline
};

// Below 32 px the lines and the rim get slightly heavier so that they still
// cover whole pixels at 16 to 24 px.
Strokes strokesFor(int size) {
    return size < 32 ? Strokes{2.75, 4.0, 2.0} : Strokes{2.5, 4.0, 1.5};
}

QImage drawPng(int size) {
    const Strokes s = strokesFor(size);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / canvas, size / canvas);

    QLinearGradient fill(0, 0, 0, canvas);
    fill.setColorAt(0, badgeTop);
    fill.setColorAt(1, badgeBottom);
    p.setBrush(fill);
    p.setPen(QPen(ink, s.rim));
    const double radius = canvas / 2 - s.rim / 2;
    p.drawEllipse(QPointF(canvas / 2, canvas / 2), radius, radius);

    QPen edge(Qt::white, s.edge);
    edge.setCapStyle(Qt::RoundCap);
    edge.setJoinStyle(Qt::RoundJoin);
    p.setPen(edge);
    p.setBrush(Qt::NoBrush);
    p.drawPolygon(nodes.data(), int(nodes.size()));

    p.setPen(QPen(ink, nodeOutline));
    p.setBrush(Qt::white);
    for (const QPointF& c : nodes)
        p.drawEllipse(c, s.node, s.node);
    return image;
}

QString svg() {
    const Strokes s = strokesFor(256);
    const auto n = [](double v) { return QString::number(v, 'g', 6); };
    QString nodeCircles;
    for (const QPointF& c : nodes)
        nodeCircles += QStringLiteral("    <circle cx=\"%1\" cy=\"%2\" r=\"%3\"/>\n")
                           .arg(n(c.x()), n(c.y()), n(s.node));
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<!-- Harborwatch: three nodes joined into a network, on a round badge. -->\n"
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\" "
               "viewBox=\"0 0 32 32\">\n"
               "  <defs>\n"
               "    <linearGradient id=\"badge\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"32\" "
               "gradientUnits=\"userSpaceOnUse\">\n"
               "      <stop offset=\"0\" stop-color=\"%1\"/>\n"
               "      <stop offset=\"1\" stop-color=\"%2\"/>\n"
               "    </linearGradient>\n"
               "  </defs>\n"
               "  <circle cx=\"16\" cy=\"16\" r=\"%3\" fill=\"url(#badge)\" stroke=\"%4\" "
               "stroke-width=\"%5\"/>\n"
               "  <path d=\"M%6 L%7 L%8 Z\" fill=\"none\" stroke=\"#ffffff\" stroke-width=\"%9\" "
               "stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n"
               "  <g fill=\"#ffffff\" stroke=\"%4\" stroke-width=\"%10\">\n"
               "%11"
               "  </g>\n"
               "</svg>\n")
        .arg(badgeTop.name(), badgeBottom.name(), n(canvas / 2 - s.rim / 2), ink.name(), n(s.rim),
             n(nodes[0].x()) + QLatin1Char(' ') + n(nodes[0].y()),
             n(nodes[1].x()) + QLatin1Char(' ') + n(nodes[1].y()),
             n(nodes[2].x()) + QLatin1Char(' ') + n(nodes[2].y()), n(s.edge))
        .arg(n(nodeOutline), nodeCircles);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-DIR\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        if (!QDir().mkpath(dir) || !drawPng(size).save(dir + QStringLiteral("/harborwatch.png"))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    const QString scalable = out + QStringLiteral("/scalable/apps");
    QFile file(scalable + QStringLiteral("/harborwatch.svg"));
    if (!QDir().mkpath(scalable) || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(svg().toUtf8()) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        return 1;
    }
    return 0;
}
