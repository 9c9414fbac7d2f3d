#include "views/Icons.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>

#include <algorithm>

namespace tallyfox::Icons {

namespace {

struct Names {
  const char* theme;  // a freedesktop icon theme name, or "" for the bundled drawing only
  const char* file;   // in the bundled resources
};

Names namesOf(Symbol symbol) {
  switch (symbol) {
    case Symbol::app:
      return {"io.quillon.Tallyfox", "io.quillon.Tallyfox.svg"};
    case Symbol::home:
      return {"user-home", "house.svg"};
    case Symbol::disk:
      return {"drive-harddisk", "drive.svg"};
    case Symbol::downloads:
      return {"folder-download", "download.svg"};
    case Symbol::caches:
      return {"package-x-generic", "box.svg"};
    case Symbol::chooseFolder:
      return {"folder-new", "folder-new.svg"};
    case Symbol::folder:
      return {"folder", "folder.svg"};
    case Symbol::file:
      return {"text-x-generic", "doc.svg"};
    case Symbol::link:
      // The bundled drawing is a file with the link emblem, as the themes draw it.
      return {"inode-symlink", "link.svg"};
    case Symbol::trash:
      return {"user-trash", "trash.svg"};
    case Symbol::trashFull:
      return {"user-trash-full", "trash-full.svg"};
    case Symbol::warning:
      return {"dialog-warning", "warning.svg"};
    case Symbol::cloud:
      return {"", "cloud.svg"};
    case Symbol::snapshot:
      return {"io.quillon.Tallyfox", "io.quillon.Tallyfox.svg"};
    case Symbol::vokSnapshot:
      return {"text-x-generic", "doc.svg"};
  }
  return {"", "doc.svg"};
}

}  // namespace

// Main thread only, like every widget that paints them.
QIcon bundled(Symbol symbol) {
  static QHash<int, QIcon> icons;
  auto found = icons.find(int(symbol));
  if (found == icons.end())
    found =
        icons.insert(int(symbol), QIcon(QStringLiteral(":/icons/") + QLatin1String(namesOf(symbol).file)));
  return *found;
}

QIcon icon(Symbol symbol) {
  static QHash<int, QIcon> icons;
  auto found = icons.find(int(symbol));
  if (found == icons.end()) {
    const Names names = namesOf(symbol);
    found = icons.insert(int(symbol), *names.theme == 0
                                          ? bundled(symbol)
                                          : QIcon::fromTheme(QLatin1String(names.theme), bundled(symbol)));
  }
  return *found;
}

QPixmap tinted(Symbol symbol, QSize size, const QColor& color, qreal devicePixelRatio) {
  const QString key = QStringLiteral("tallyfox-tinted-%1-%2x%3-%4-%5")
                          .arg(int(symbol))
                          .arg(size.width())
                          .arg(size.height())
                          .arg(color.rgba())
                          .arg(devicePixelRatio);
  QPixmap shape;
  if (QPixmapCache::find(key, &shape)) return shape;
  shape = bundled(symbol).pixmap(size, devicePixelRatio);
  if (shape.isNull()) return shape;
  QPainter painter(&shape);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(QRectF(QPointF(0, 0), QSizeF(shape.deviceIndependentSize())), color);
  painter.end();
  QPixmapCache::insert(key, shape);
  return shape;
}

void paintChevron(QPainter& painter, const QRectF& frame, double degrees, const QColor& color) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.translate(frame.center());
  painter.rotate(degrees);
  const double h = std::min(frame.width(), frame.height()) * 0.22;
  QPainterPath path;
  path.moveTo(-h * 0.5, -h);
  path.lineTo(h * 0.5, 0);
  path.lineTo(-h * 0.5, h);
  painter.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(path);
  painter.restore();
}

Symbol forSymbolName(const QString& name) {
  // Presets name their icons by theme name; older callers by the symbol names of the
  // original design.
  static const QHash<QString, Symbol> symbols{
      {QStringLiteral("drive-harddisk"), Symbol::disk},
      {QStringLiteral("internaldrive"), Symbol::disk},
      {QStringLiteral("user-home"), Symbol::home},
      {QStringLiteral("house"), Symbol::home},
      {QStringLiteral("package-x-generic"), Symbol::caches},
      {QStringLiteral("archivebox"), Symbol::caches},
      {QStringLiteral("shippingbox"), Symbol::caches},
      {QStringLiteral("folder-download"), Symbol::downloads},
      {QStringLiteral("arrow.down.circle"), Symbol::downloads},
      {QStringLiteral("folder-new"), Symbol::chooseFolder},
      {QStringLiteral("folder.badge.plus"), Symbol::chooseFolder},
      {QStringLiteral("folder"), Symbol::folder},
      {QStringLiteral("folder.fill"), Symbol::folder},
  };
  return symbols.value(name, Symbol::folder);
}

}  // namespace tallyfox::Icons
