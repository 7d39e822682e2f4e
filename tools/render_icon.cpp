// bw-render-icon: draws Brackwater's icon (the shapes of data/brackwater.svg) into PNG files
// at the build, since Qt's SVG module is not among the build's packages.
//
//   bw-render-icon OUTDIR SIZE...   writes OUTDIR/SIZExSIZE/brackwater.png for every SIZE

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <cstdio>

namespace {

const QColor kTeal(0x1f, 0x6f, 0x78);
const QColor kBody(0xee, 0xf3, 0xf1);
const QColor kScreen(0x2d, 0x3b, 0x45);
const QColor kGlow(0x7f, 0xe0, 0xa8);
const QColor kOrange(0xf2, 0xa5, 0x41);

void roundedRect(QPainter& p, const QRectF& r, qreal radius, const QColor& colour) {
    p.setBrush(colour);
    p.drawRoundedRect(r, radius, radius);
}

// Draws the icon in the SVG's 256 x 256 user space.
void drawIcon(QPainter& p) {
    p.setPen(Qt::NoPen);
    roundedRect(p, QRectF(16, 16, 224, 224), 40, kTeal);
    roundedRect(p, QRectF(64, 40, 128, 176), 14, kBody);
    roundedRect(p, QRectF(80, 58, 96, 56), 6, kScreen);
    p.fillRect(QRectF(90, 72, 60, 8), kGlow);
    p.fillRect(QRectF(90, 88, 40, 8), kGlow);
    p.fillRect(QRectF(96, 122, 64, 4), kOrange);
    p.setBrush(kTeal);
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            p.drawEllipse(QPointF(100 + 28 * col, 144 + 24 * row), 8, 8);

    p.setBrush(kOrange);
    p.drawEllipse(QPointF(200, 56), 30, 30);
    QPainterPath bowl;
    bowl.moveTo(180, 54);
    bowl.lineTo(220, 54);
    bowl.arcTo(QRectF(180, 34, 40, 40), 0, -180);
    bowl.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(bowl);
    roundedRect(p, QRectF(190, 36, 4, 12), 2, Qt::white);
    roundedRect(p, QRectF(206, 36, 4, 12), 2, Qt::white);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: bw-render-icon OUTDIR SIZE...\n", stderr);
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = QString::fromLocal8Bit(argv[i]).toInt();
        if (size < 16 || size > 1024) {
            std::fprintf(stderr, "bw-render-icon: bad size %s\n", argv[i]);
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(size / 256.0, size / 256.0);
            drawIcon(p);
        }
        const QString dir = QStringLiteral("%1/%2x%2").arg(outDir).arg(size);
        const QString file = dir + QStringLiteral("/brackwater.png");
        if (!QDir().mkpath(dir) || !image.save(file, "PNG")) {
            std::fprintf(stderr, "bw-render-icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
