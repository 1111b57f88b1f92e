// Renders an SVG into square PNG files, for the icon theme's fixed sizes: render_icon SVG SIZE:OUT.png...
// Exit status 0 when every file was written, 1 otherwise, 2 on bad usage.
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: render_icon SVG SIZE:OUT.png...\n");
    return 2;
  }
  QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
  if (!svg.isValid()) {
    std::fprintf(stderr, "render_icon: cannot read %s\n", argv[1]);
    return 1;
  }
  for (int i = 2; i < argc; ++i) {
    const char* colon = std::strchr(argv[i], ':');
    const int size = colon != nullptr ? std::atoi(argv[i]) : 0;
    if (size <= 0 || size > 1024) {
      std::fprintf(stderr, "render_icon: expected SIZE:OUT.png, got %s\n", argv[i]);
      return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.end();
    if (!image.save(QString::fromLocal8Bit(colon + 1), "PNG")) {
      std::fprintf(stderr, "render_icon: cannot write %s\n", colon + 1);
      return 1;
    }
  }
  return 0;
}
