// Draws Corvane's bitmap resources (toolbar/tree icons, program icon, dialog banner,
// busy cursor) and writes them as PNG files into the folder given on the command line.
//
// Everything is drawn from scratch with QPainter so the pictures can be regenerated
// or tweaked without any image editor. Only QtGui is needed; run it with the
// offscreen platform plugin so no display is required.

#include <QConicalGradient>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

QImage transparentImage(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

// One horizontal + vertical box-blur pass over a premultiplied ARGB image.
void boxBlurPass(QImage& img, int r) {
    const int w = img.width();
    const int h = img.height();
    std::vector<QRgb> line(std::max(w, h));
    auto blurLine = [&](auto get, auto set, int n) {
        for (int i = 0; i < n; ++i) line[i] = get(i);
        for (int i = 0; i < n; ++i) {
            int a = 0, rr = 0, g = 0, b = 0, cnt = 0;
            for (int k = i - r; k <= i + r; ++k) {
                if (k < 0 || k >= n) {
                    ++cnt;  // outside counts as transparent
                    continue;
                }
                const QRgb c = line[k];
                a += qAlpha(c);
                rr += qRed(c);
                g += qGreen(c);
                b += qBlue(c);
                ++cnt;
            }
            set(i, qRgba(rr / cnt, g / cnt, b / cnt, a / cnt));
        }
    };
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        blurLine([&](int i) { return row[i]; }, [&](int i, QRgb c) { row[i] = c; }, w);
    }
    for (int x = 0; x < w; ++x) {
        blurLine([&](int i) { return reinterpret_cast<QRgb*>(img.scanLine(i))[x]; },
                 [&](int i, QRgb c) { reinterpret_cast<QRgb*>(img.scanLine(i))[x] = c; }, h);
    }
}

// Turns a drawn layer into a soft shadow: same silhouette, flat colour, blurred.
QImage softShadow(const QImage& layer, const QColor& color, int radius) {
    QImage shadow = layer.copy();
    {
        QPainter p(&shadow);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(shadow.rect(), color);
    }
    if (radius > 0) {
        const int r = std::max(1, radius / 2);
        for (int i = 0; i < 3; ++i) boxBlurPass(shadow, r);
    }
    return shadow;
}

// ---------------------------------------------------------------------------
// Shared shapes

struct FolderColors {
    QColor tab;
    QColor frontTop;
    QColor frontBottom;
    QColor outline;
    QColor highlight;
};

// A closed file folder on a 16x16 grid: back sheet with a tab on the left,
// a front sheet covering most of it. Edges sit on half pixels to stay crisp.
void drawFolderShape(QPainter& p, const FolderColors& c) {
    p.setRenderHint(QPainter::Antialiasing);
    QPen outline(c.outline, 1.0);
    outline.setJoinStyle(Qt::MiterJoin);

    QPainterPath back;
    back.moveTo(1.5, 13.5);
    back.lineTo(1.5, 2.5);
    back.lineTo(6.0, 2.5);
    back.lineTo(7.5, 4.0);
    back.lineTo(14.5, 4.0);
    back.lineTo(14.5, 13.5);
    back.closeSubpath();
    p.setPen(outline);
    p.setBrush(c.tab);
    p.drawPath(back);

    QLinearGradient frontGrad(0, 5.5, 0, 13.5);
    frontGrad.setColorAt(0.0, c.frontTop);
    frontGrad.setColorAt(1.0, c.frontBottom);
    p.setBrush(frontGrad);
    p.drawRect(QRectF(1.5, 5.5, 13.0, 8.0));

    // Light edge along the top of the front sheet.
    p.setPen(QPen(c.highlight, 1.0));
    p.drawLine(QPointF(2.5, 6.5), QPointF(13.5, 6.5));
}

// A compact disc: silver face with a rainbow sheen, clear hub and a hole.
// 'outline' is the pen width of the rim; small sizes use one device pixel.
void drawDisc(QPainter& p, QPointF c, double R, double outline) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double holeR = std::max(1.5, R * 0.16);
    const double hubR = R * 0.40;

    QPainterPath face;
    face.setFillRule(Qt::OddEvenFill);
    face.addEllipse(c, R, R);
    face.addEllipse(c, holeR, holeR);

    // Silver base with faint colour bands sweeping around the centre.
    QConicalGradient sheen(c, 35);
    sheen.setColorAt(0.00, QColor(0xf4, 0xf6, 0xf8));
    sheen.setColorAt(0.08, QColor(0xf2, 0xc8, 0xe6));
    sheen.setColorAt(0.16, QColor(0xbd, 0xdc, 0xf8));
    sheen.setColorAt(0.24, QColor(0xc8, 0xcd, 0xd4));
    sheen.setColorAt(0.38, QColor(0xa9, 0xb0, 0xb9));
    sheen.setColorAt(0.50, QColor(0xf4, 0xf6, 0xf8));
    sheen.setColorAt(0.58, QColor(0xf6, 0xef, 0xb4));
    sheen.setColorAt(0.66, QColor(0xb8, 0xee, 0xd2));
    sheen.setColorAt(0.74, QColor(0xc8, 0xcd, 0xd4));
    sheen.setColorAt(0.88, QColor(0xa9, 0xb0, 0xb9));
    sheen.setColorAt(1.00, QColor(0xf4, 0xf6, 0xf8));
    p.setPen(Qt::NoPen);
    p.setBrush(sheen);
    p.drawPath(face);

    // Slight darkening towards the rim gives the face some depth.
    QRadialGradient depth(c, R);
    depth.setColorAt(0.0, QColor(255, 255, 255, 0));
    depth.setColorAt(0.75, QColor(255, 255, 255, 0));
    depth.setColorAt(1.0, QColor(60, 70, 90, 50));
    p.setBrush(depth);
    p.drawPath(face);

    // Clear plastic hub.
    QPainterPath hub;
    hub.setFillRule(Qt::OddEvenFill);
    hub.addEllipse(c, hubR, hubR);
    hub.addEllipse(c, holeR, holeR);
    p.setBrush(QColor(0xe8, 0xec, 0xf0, 220));
    p.drawPath(hub);

    const QColor rim(0x6c, 0x74, 0x80);
    if (R >= 10) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0x9a, 0xa2, 0xac), std::max(0.6, outline * 0.7)));
        p.drawEllipse(c, hubR, hubR);
        p.setPen(QPen(QColor(0xb4, 0xbb, 0xc4), std::max(0.5, outline * 0.5)));
        p.drawEllipse(c, R * 0.27, R * 0.27);
    } else {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0x9a, 0xa2, 0xac, 200), 0.8));
        p.drawEllipse(c, hubR, hubR);
    }

    // Rim and hole edge.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(rim, outline));
    p.drawEllipse(c, R - outline / 2, R - outline / 2);
    p.setPen(QPen(QColor(0x80, 0x88, 0x94), std::min(outline, 1.0)));
    p.drawEllipse(c, holeR + 0.25, holeR + 0.25);
    p.restore();
}

// A USB stick lying along the line tail -> head, connector at the head.
// 'thickness' is the width of the body; 'outline' the pen width of its edges.
void drawStick(QPainter& p, QPointF tail, QPointF head, double thickness, double outline,
               bool detailed) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF d = head - tail;
    const double len = std::hypot(d.x(), d.y());
    p.translate(tail);
    p.rotate(std::atan2(d.y(), d.x()) * 180.0 / kPi);

    const double t = thickness;
    const double connLen = len * 0.27;
    const double connT = t * 0.74;
    const double bodyLen = len - connLen;

    // Metal connector (drawn first so the body overlaps its base).
    const QRectF conn(bodyLen - outline, -connT / 2, connLen + outline, connT);
    QLinearGradient metal(0, -connT / 2, 0, connT / 2);
    metal.setColorAt(0.0, QColor(0xfa, 0xfa, 0xfa));
    metal.setColorAt(0.45, QColor(0xd0, 0xd4, 0xd8));
    metal.setColorAt(1.0, QColor(0x8c, 0x92, 0x98));
    p.setPen(QPen(QColor(0x5a, 0x60, 0x66), outline));
    p.setBrush(metal);
    p.drawRect(conn);
    if (detailed) {
        const double hs = connT * 0.22;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x4a, 0x50, 0x58));
        p.drawRect(QRectF(bodyLen + connLen * 0.30, -connT * 0.30, hs, hs));
        p.drawRect(QRectF(bodyLen + connLen * 0.62, -connT * 0.30, hs, hs));
    }

    // Blue body with a rounded end and cylindrical shading across it.
    const QRectF body(0, -t / 2, bodyLen, t);
    QLinearGradient blue(0, -t / 2, 0, t / 2);
    blue.setColorAt(0.0, QColor(0x7c, 0xb8, 0xff));
    blue.setColorAt(0.35, QColor(0x2f, 0x7c, 0xe8));
    blue.setColorAt(1.0, QColor(0x13, 0x45, 0xa8));
    p.setPen(QPen(QColor(0x0b, 0x2c, 0x70), outline));
    p.setBrush(blue);
    p.drawRoundedRect(body, t * 0.32, t * 0.32);

    if (detailed) {
        // Glossy streak along the top edge and a small lanyard hole at the tail.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 90));
        p.drawRoundedRect(QRectF(t * 0.35, -t * 0.36, bodyLen - t * 0.7, t * 0.16), t * 0.08,
                          t * 0.08);
        p.setBrush(QColor(0x0b, 0x2c, 0x70, 200));
        p.drawEllipse(QPointF(t * 0.38, 0), t * 0.11, t * 0.11);
        // Grip collar where the body meets the connector.
        p.setBrush(QColor(0x0b, 0x2c, 0x70, 110));
        p.drawRect(QRectF(bodyLen - t * 0.30, -t / 2 + outline / 2, t * 0.12, t - outline));
    }
    p.restore();
}

bool save(const QImage& img, const QString& dir, const char* name) {
    const QString path = QDir(dir).filePath(QString::fromLatin1(name));
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "draw_resources: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("wrote %s (%dx%d)\n", qPrintable(path), img.width(), img.height());
    return true;
}

// ---------------------------------------------------------------------------
// The pictures

QImage drawFolderYellow() {
    QImage img = transparentImage(16, 16);
    QPainter p(&img);
    drawFolderShape(p,
                    {QColor(0xe8, 0xb2, 0x2a), QColor(0xff, 0xe0, 0x70), QColor(0xf2, 0xb8, 0x1c),
                     QColor(0x9a, 0x6a, 0x08), QColor(0xff, 0xf2, 0xb8)});
    return img;
}

QImage drawFolderRed() {
    QImage img = transparentImage(16, 16);
    QPainter p(&img);
    drawFolderShape(p,
                    {QColor(0xc8, 0x30, 0x2a), QColor(0xf4, 0x6a, 0x5c), QColor(0xd2, 0x26, 0x1e),
                     QColor(0x7a, 0x10, 0x0c), QColor(0xff, 0xb4, 0xa8)});
    return img;
}

QImage drawDiscIcon() {
    QImage img = transparentImage(16, 16);
    QPainter p(&img);
    drawDisc(p, QPointF(8, 8), 7.5, 1.0);
    return img;
}

QImage drawStickIcon() {
    QImage img = transparentImage(16, 16);
    QPainter p(&img);
    drawStick(p, QPointF(2.6, 13.4), QPointF(14.2, 1.8), 5.6, 1.0, false);
    return img;
}

// Disc behind, USB stick in front running from lower left to upper right.
// 32 and 48 px share a layout on a 48-unit grid; 16 px is laid out per pixel
// with a smaller disc and a fatter stick so it stays readable.
QImage drawProgramIcon(int size) {
    QImage img = transparentImage(size, size);
    const bool tiny = size <= 16;
    const double s = size / 48.0;
    const double px = 1.0 / s;  // one device pixel in layout units

    auto paintDisc = [&](QPainter& p) {
        if (tiny) {
            drawDisc(p, QPointF(6.5, 6.5), 6.0, 1.0);
            return;
        }
        p.scale(s, s);
        drawDisc(p, QPointF(20, 20), 19.0, size >= 48 ? 1.2 : px);
    };
    auto paintStick = [&](QPainter& p) {
        if (tiny) {
            drawStick(p, QPointF(6.0, 14.6), QPointF(14.6, 6.0), 4.4, 1.0, false);
            return;
        }
        p.scale(s, s);
        drawStick(p, QPointF(15, 45), QPointF(45.5, 14.5), 12.5, size >= 48 ? 1.2 : px, size >= 32);
    };

    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.save();
    paintDisc(p);
    p.restore();

    // Soft shadow of the stick falling on the disc.
    QImage layer = transparentImage(size, size);
    {
        QPainter lp(&layer);
        lp.translate(tiny ? 0.6 : size * 0.03, tiny ? 0.8 : size * 0.05);
        paintStick(lp);
    }
    p.drawImage(0, 0, softShadow(layer, QColor(0, 0, 0, tiny ? 60 : 90), std::max(1, size / 16)));

    p.save();
    paintStick(p);
    p.restore();
    return img;
}

// Tall banner for the left side of dialogs: large disc with a stick across it,
// both casting a soft shadow on a white ground. Stored without alpha.
QImage drawSideBanner() {
    const int w = 120;
    const int h = 330;
    const QPointF discCentre(60, 118);
    const double discR = 53;
    const QPointF tail(19, 266);
    const QPointF head(96, 140);

    QImage objects = transparentImage(w, h);
    {
        QPainter p(&objects);
        drawDisc(p, discCentre, discR, 1.4);
    }
    QImage stick = transparentImage(w, h);
    {
        QPainter p(&stick);
        drawStick(p, tail, head, 30, 1.4, true);
    }

    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // Shadows on the ground, then the disc, the stick's shadow on the disc, the stick.
    QImage groundLayer = objects.copy();
    {
        QPainter gp(&groundLayer);
        gp.drawImage(0, 0, stick);
    }
    p.drawImage(QPointF(3, 6), softShadow(groundLayer, QColor(40, 50, 70, 70), 10));
    p.drawImage(0, 0, objects);
    p.drawImage(QPointF(2, 5), softShadow(stick, QColor(20, 30, 50, 80), 6));
    p.drawImage(0, 0, stick);
    p.end();
    return img.convertToFormat(QImage::Format_RGB888);
}

// Pixel-art busy cursor: arrow, hourglass and "Loading Disc..." in a 3 px wide font.
// Pure black and white on transparent; the hot spot is the arrow tip at (1,1).
QImage drawLoadingCursor() {
    QImage img = transparentImage(32, 32);
    const QRgb black = qRgba(0, 0, 0, 255);
    const QRgb white = qRgba(255, 255, 255, 255);

    // '#' black, '.' white, anything else transparent.
    auto blit = [&](int x0, int y0, const QStringList& rows) {
        for (int y = 0; y < rows.size(); ++y) {
            for (int x = 0; x < rows[y].size(); ++x) {
                const QChar ch = rows[y][x];
                if (ch == u'#')
                    img.setPixel(x0 + x, y0 + y, black);
                else if (ch == u'.')
                    img.setPixel(x0 + x, y0 + y, white);
            }
        }
    };

    blit(1, 1,
         {"#", "##", "#.#", "#..#", "#...#", "#....#", "#.....#", "#......#", "#.......#",
          "#...#####", "#..#..#", "#.# #..#", "##  #..#", "#    #..#", "     #..#", "      ##"});

    blit(
        13, 1,
        {"###########", " #.......# ", " #.......# ", "  #.###.#  ", "   #####   ", "    ###    ",
         "    ###    ", "   #.#.#   ", "  #..#..#  ", " #..###..# ", " #.#####.# ", "###########"});

    // Tiny font: caps 5 rows high, lower case 4 rows with 2-row descenders.
    struct Glyph {
        char ch;
        std::vector<const char*> rows;  // top row = cap height
    };
    static const std::vector<Glyph> font = {
        {'L', {"#..", "#..", "#..", "#..", "###"}},
        {'D', {"##.", "#.#", "#.#", "#.#", "##."}},
        {'o', {"...", ".#.", "#.#", "#.#", ".#."}},
        {'a', {"...", ".##", "#.#", "#.#", ".##"}},
        {'d', {"..#", ".##", "#.#", "#.#", ".##"}},
        {'i', {"#", ".", "#", "#", "#"}},
        {'n', {"...", "##.", "#.#", "#.#", "#.#"}},
        {'g', {"...", ".##", "#.#", "#.#", ".##", "..#", "##."}},
        {'s', {"...", ".##", "#..", "..#", "##."}},
        {'c', {"...", ".##", "#..", "#..", ".##"}},
        {'.', {".", ".", ".", ".", "#"}},
    };

    // Text mask first, then a one-pixel white halo so it reads on any background.
    QImage mask(32, 32, QImage::Format_Grayscale8);
    mask.fill(0);
    auto writeText = [&](int x, int y, const char* text) {
        for (const char* c = text; *c; ++c) {
            auto it =
                std::find_if(font.begin(), font.end(), [&](const Glyph& g) { return g.ch == *c; });
            if (it == font.end()) continue;
            int width = 0;
            for (int r = 0; r < static_cast<int>(it->rows.size()); ++r) {
                const char* row = it->rows[r];
                width = std::max<int>(width, std::strlen(row));
                for (int k = 0; row[k]; ++k)
                    if (row[k] == '#') mask.setPixel(x + k, y + r, 255);
            }
            x += width + 1;
        }
    };
    writeText(1, 18, "Loading");
    writeText(1, 26, "Disc...");

    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            bool near = false;
            for (int dy = -1; dy <= 1 && !near; ++dy)
                for (int dx = -1; dx <= 1 && !near; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx >= 0 && ny >= 0 && nx < 32 && ny < 32 && qGray(mask.pixel(nx, ny)))
                        near = true;
                }
            if (qGray(mask.pixel(x, y)))
                img.setPixel(x, y, black);
            else if (near && qAlpha(img.pixel(x, y)) == 0)
                img.setPixel(x, y, white);
        }
    }
    img.setText(QStringLiteral("HotSpot"), QStringLiteral("1,1"));
    return img;
}

// Glossy purple round badge with a white question mark.
QImage drawQuestion() {
    QImage img = transparentImage(32, 32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(16, 16);
    const double R = 14.5;

    QRadialGradient body(QPointF(12, 10), 20, QPointF(11, 9));
    body.setColorAt(0.0, QColor(0xc9, 0x8a, 0xf2));
    body.setColorAt(0.55, QColor(0x84, 0x3c, 0xc8));
    body.setColorAt(1.0, QColor(0x4c, 0x15, 0x86));
    p.setPen(QPen(QColor(0x3a, 0x0e, 0x68), 1.0));
    p.setBrush(body);
    p.drawEllipse(c, R, R);

    // Gloss across the upper half.
    QLinearGradient gloss(0, 2.5, 0, 15);
    gloss.setColorAt(0.0, QColor(255, 255, 255, 170));
    gloss.setColorAt(1.0, QColor(255, 255, 255, 10));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawEllipse(QRectF(6, 2.6, 20, 12));

    // The question mark: a hook with a short stem, and a dot.
    QPainterPath hook;
    hook.arcMoveTo(QRectF(11.5, 7.5, 9, 9), 165);
    hook.arcTo(QRectF(11.5, 7.5, 9, 9), 165, -225);
    hook.quadTo(QPointF(16, 16.8), QPointF(16, 19.6));
    auto drawMark = [&](const QPointF& off, const QColor& col) {
        p.save();
        p.translate(off);
        QPen pen(col, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawPath(hook);
        p.setPen(Qt::NoPen);
        p.setBrush(col);
        p.drawEllipse(QPointF(16, 24.2), 2.0, 2.0);
        p.restore();
    };
    drawMark(QPointF(0.5, 0.8), QColor(0x2a, 0x06, 0x50, 120));
    drawMark(QPointF(0, 0), Qt::white);
    return img;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "draw_resources: cannot create %s\n", argv[1]);
        return 1;
    }

    bool ok = true;
    ok &= save(drawFolderYellow(), dir, "folder_yellow.png");
    ok &= save(drawDiscIcon(), dir, "disc.png");
    ok &= save(drawStickIcon(), dir, "stick.png");
    ok &= save(drawFolderRed(), dir, "folder_red.png");
    ok &= save(drawProgramIcon(48), dir, "program.png");
    ok &= save(drawProgramIcon(32), dir, "program_32.png");
    ok &= save(drawProgramIcon(16), dir, "program_16.png");
    ok &= save(drawSideBanner(), dir, "side.png");
    ok &= save(drawLoadingCursor(), dir, "loading_cursor.png");
    ok &= save(drawQuestion(), dir, "question.png");
    // The program icon for the desktop's hicolor theme, at the sizes menus and docks ask for.
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString sizeDir = QStringLiteral("icons/hicolor/%1x%1/apps").arg(size);
        ok &= QDir(dir).mkpath(sizeDir) &&
              save(drawProgramIcon(size), QDir(dir).filePath(sizeDir), "corvane.png");
    }
    return ok ? 0 : 1;
}
