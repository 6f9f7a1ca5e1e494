// Build-time tool: renders an SVG icon into a square PNG of the given size, so the installed
// bitmap icons always come from the one SVG source.
// Usage: vantrel_svg_to_png INPUT.svg OUTPUT.png SIZE
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <charconv>
#include <cstdio>
#include <string_view>

namespace {

// Larger than any icon theme size; a bigger number is a typing error, not a wish.
constexpr int kMaxIconSize = 1024;

int Fail(const char* what, const char* path) {
    std::fprintf(stderr, "vantrel_svg_to_png: %s: %s\n", what, path);
    return 1;
}

int ParseSize(std::string_view text) {
    int size = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || size < 1 || size > kMaxIconSize)
        return 0;
    return size;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "Usage: vantrel_svg_to_png INPUT.svg OUTPUT.png SIZE\n");
        return 2;
    }
    const int size = ParseSize(argv[3]);
    if (size == 0)
        return Fail("the size must be a whole number from 1 to 1024, not", argv[3]);

    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid())
        return Fail("cannot read the SVG image", argv[1]);
    // A non-square drawing is centred, never stretched.
    renderer.setAspectRatioMode(Qt::KeepAspectRatio);

    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        renderer.render(&painter, QRectF(0, 0, size, size));
    }
    if (!image.convertedTo(QImage::Format_ARGB32).save(QString::fromLocal8Bit(argv[2]), "PNG"))
        return Fail("cannot write the PNG image", argv[2]);
    return 0;
}
