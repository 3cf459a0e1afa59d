// Build-time helper: renders one of our SVG drawings to a PNG.
// usage: velqora_render_svg IN.svg OUT.png WIDTH HEIGHT

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: velqora_render_svg IN.svg OUT.png WIDTH HEIGHT\n");
        return 2;
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) {
        std::fprintf(stderr, "velqora_render_svg: cannot read %s\n", argv[1]);
        return 1;
    }
    QImage image(QString(argv[3]).toInt(), QString(argv[4]).toInt(),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.end();
    if (!image.save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "velqora_render_svg: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
