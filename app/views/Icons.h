#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QRectF>
#include <QString>

class QPainter;

namespace tallyfox::Icons {

// The icons the windows use, by role. Each comes from the desktop's icon theme when it has
// one, else from the SVG bundled into the program, so that a bare desktop looks right too.
enum class Symbol {
  app,
  home,
  disk,
  downloads,
  caches,
  chooseFolder,
  folder,
  file,
  link,
  trash,
  trashFull,
  warning,
  cloud,
  snapshot,
  vokSnapshot,
};

// Icons are looked up once and kept: the list paints several per row.
QIcon icon(Symbol symbol);
// The bundled drawing alone, for places where the theme's colours would not fit.
QIcon bundled(Symbol symbol);
// The bundled drawing filled with one colour, keeping its shape: the red of a marked row,
// the orange of an error badge. Cached.
QPixmap tinted(Symbol symbol, QSize size, const QColor& color, qreal devicePixelRatio);

// A right-pointing chevron drawn as two strokes, turned by `degrees` about the centre of
// `frame`.
void paintChevron(QPainter& painter, const QRectF& frame, double degrees, const QColor& color);

// The symbol that stands for a preset's symbol name ("house", "internaldrive", ...).
Symbol forSymbolName(const QString& name);

}  // namespace tallyfox::Icons
