// Build tool: renders each SVG source to "<name>.png" at the size its width and height give
// (points) and to "<name>@2x.png" at twice that. Usage: render_artwork OUTDIR FILE.svg...
// With --size N it renders one square PNG per source at N pixels instead (the app icon).

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

namespace {

bool render(const QString& svg, const QSize& size, const QString& out) {
    QSvgRenderer renderer(svg);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "render_artwork: %s is not a valid SVG\n", qPrintable(svg));
        return false;
    }
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    painter.end();
    if (!image.save(out, "PNG")) {
        std::fprintf(stderr, "render_artwork: cannot write %s\n", qPrintable(out));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Text in the artwork needs fonts, which need a GUI application; no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int square = 0;
    if (args.size() >= 2 && args.first() == QLatin1String("--size")) {
        square = args.at(1).toInt();
        args = args.mid(2);
    }
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: render_artwork [--size N] OUTDIR FILE.svg...\n");
        return 2;
    }
    const QDir out(args.takeFirst());
    if (!out.exists() && !QDir().mkpath(out.path())) return 1;
    for (const QString& svg : args) {
        const QString name = QFileInfo(svg).completeBaseName();
        if (square > 0) {
            if (!render(svg, QSize(square, square), out.filePath(name + QStringLiteral(".png")))) return 1;
            continue;
        }
        const QSize points = QSvgRenderer(svg).defaultSize();
        if (points.isEmpty()) {
            std::fprintf(stderr, "render_artwork: %s has no size\n", qPrintable(svg));
            return 1;
        }
        if (!render(svg, points, out.filePath(name + QStringLiteral(".png"))) ||
            !render(svg, points * 2, out.filePath(name + QStringLiteral("@2x.png"))))
            return 1;
    }
    return 0;
}
