// Draws the product icon in every size, the wizard banner and the folder icon
// of the destination page into the directory given on the command line.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <cstdio>

namespace {

const QColor deepNavy(0x12, 0x23, 0x46);
const QColor clusterTeal(0x0e, 0x7c, 0x86);
const QColor nodeLight(0xe8, 0xf6, 0xf7);
const QColor linkLight(0xa9, 0xdc, 0xe0);
const QColor headAmber(0xf5, 0xa5, 0x24);

// Ring nodes around a head node: fewer at small sizes so that each stays a
// distinct dot of at least two pixels.
int ringNodes(int size)
{
    return size < 32 ? 4 : 6;
}

void drawCluster(QPainter &p, const QPointF &centre, qreal radius, int nodes, qreal alpha)
{
    const qreal nodeRadius = qMax(radius * 0.19, 1.3);
    const qreal headRadius = qMax(radius * 0.27, 1.8);
    const qreal lineWidth = qMax(radius * 0.075, 1.0);

    QVector<QPointF> ring;
    for (int i = 0; i < nodes; ++i) {
        const qreal angle = -M_PI / 2 + 2 * M_PI * i / nodes + (nodes == 4 ? M_PI / 4 : 0);
        ring << centre + QPointF(qCos(angle), qSin(angle)) * radius;
    }

    QColor link = linkLight;
    link.setAlphaF(0.85 * alpha);
    p.setPen(QPen(link, lineWidth, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < nodes; ++i) {
        p.drawLine(centre, ring[i]);
        p.drawLine(ring[i], ring[(i + 1) % nodes]);
    }

    p.setPen(Qt::NoPen);
    QColor node = nodeLight;
    node.setAlphaF(alpha);
    for (const QPointF &at : qAsConst(ring)) {
        p.setBrush(node);
        p.drawEllipse(at, nodeRadius, nodeRadius);
    }

    QRadialGradient glow(centre, headRadius * 2.2);
    QColor halo = headAmber;
    halo.setAlphaF(0.45 * alpha);
    glow.setColorAt(0, halo);
    halo.setAlphaF(0);
    glow.setColorAt(1, halo);
    p.setBrush(glow);
    p.drawEllipse(centre, headRadius * 2.2, headRadius * 2.2);
    QColor head = headAmber;
    head.setAlphaF(alpha);
    p.setBrush(head);
    p.drawEllipse(centre, headRadius, headRadius);
}

QImage productIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    const qreal margin = size <= 24 ? 0.5 : size * 0.04;
    const QRectF tile(margin, margin, size - 2 * margin, size - 2 * margin);
    QLinearGradient background(tile.topLeft(), tile.bottomRight());
    background.setColorAt(0, clusterTeal);
    background.setColorAt(1, deepNavy);
    QPainterPath shape;
    shape.addRoundedRect(tile, tile.width() * 0.22, tile.width() * 0.22);
    p.fillPath(shape, background);

    // A soft highlight on the upper half gives the tile some depth.
    if (size >= 32) {
        QLinearGradient shine(tile.topLeft(), QPointF(tile.left(), tile.center().y()));
        shine.setColorAt(0, QColor(255, 255, 255, 46));
        shine.setColorAt(1, QColor(255, 255, 255, 0));
        p.fillPath(shape, shine);
    }

    drawCluster(p, tile.center(), tile.width() * 0.31, ringNodes(size), 1.0);
    return image;
}

QImage banner()
{
    const int width = 160, height = 232;
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient background(0, 0, width * 0.4, height);
    background.setColorAt(0, deepNavy);
    background.setColorAt(1, clusterTeal);
    p.fillRect(image.rect(), background);

    // A faint mesh of nodes behind the mark, like a cluster seen from afar.
    const QPointF faint[] = {{28, 150}, {70, 132}, {118, 160}, {142, 118}, {96, 196},
                             {44, 204}, {136, 214}, {12, 108}, {108, 92}};
    const int links[][2] = {{0, 1}, {1, 2}, {2, 3}, {2, 4}, {4, 5}, {0, 5}, {4, 6},
                            {2, 6}, {0, 7}, {1, 8}, {3, 8}, {1, 4}};
    p.setPen(QPen(QColor(255, 255, 255, 34), 1.2));
    for (const auto &link : links)
        p.drawLine(faint[link[0]], faint[link[1]]);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 52));
    for (const QPointF &at : faint)
        p.drawEllipse(at, 3.2, 3.2);

    drawCluster(p, QPointF(width / 2.0 + 14, 52), 26, 6, 1.0);

    // The product name runs up the left edge.
    p.save();
    p.translate(34, height - 14);
    p.rotate(-90);
    QFont name(QStringLiteral("DejaVu Sans"));
    name.setPixelSize(30);
    name.setBold(true);
    p.setFont(name);
    p.setPen(nodeLight);
    p.drawText(QPointF(0, 0), QStringLiteral("Zarvo"));
    QFont maker(QStringLiteral("DejaVu Sans"));
    maker.setPixelSize(11);
    maker.setLetterSpacing(QFont::AbsoluteSpacing, 2.4);
    p.setFont(maker);
    p.setPen(linkLight);
    p.drawText(QPointF(2, 17), QStringLiteral("CORVANE"));
    p.restore();

    p.setPen(QPen(headAmber, 2));
    p.drawLine(QPointF(8, height - 14), QPointF(8, height - 128));
    return image;
}

// Classic two-tone folder, drawn pixel by pixel so that it stays crisp and
// needs no partial transparency (XPM has none).
QImage folderIcon()
{
    static const char *const rows[16] = {
        "................",
        "................",
        ".oooo...........",
        "oyyyyo..........",
        "oyyyyyoooooooo..",
        "oYYYYYYYYYYYYYo.",
        "oYhhhhhhhhhhhhYo",
        "oYhyyyyyyyyyyyYo",
        "oYhyyyyyyyyyyyYo",
        "oYhyyyyyyyyyyyYo",
        "oYhyyyyyyyyyyyYo",
        "oYhyyyyyyyyyyyYo",
        "oYyyyyyyyyyyyyYo",
        "oYYYYYYYYYYYYYYo",
        ".oooooooooooooo.",
        "................",
    };
    QImage image(16, 16, QImage::Format_ARGB32);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            QColor c;
            switch (rows[y][x]) {
            case 'o': c = QColor(0x8a, 0x5a, 0x12); break;
            case 'y': c = QColor(0xf6, 0xc8, 0x5f); break;
            case 'Y': c = QColor(0xe0, 0xa0, 0x2e); break;
            case 'h': c = QColor(0xfc, 0xe7, 0xa8); break;
            default: c = Qt::transparent; break;
            }
            image.setPixelColor(x, y, c);
        }
    }
    return image;
}

bool save(const QImage &image, const QString &path, const char *format)
{
    if (!QDir().mkpath(QFileInfo(path).path()) || !image.save(path, format)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s RESOURCE-DIRECTORY\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool ok = true;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 192, 256}) {
        ok &= save(productIcon(size),
                   out.filePath(QStringLiteral("icons/%1x%1/corvane-zarvo.png").arg(size)), "PNG");
    }
    ok &= save(banner(), out.filePath(QStringLiteral("banner-zarvo.png")), "PNG");
    ok &= save(folderIcon(), out.filePath(QStringLiteral("folder_icon.xpm")), "XPM");
    return ok ? 0 : 1;
}
