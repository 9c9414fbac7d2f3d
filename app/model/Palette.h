#pragma once

#include <cstdint>

namespace tallyfox {

// A colour as the views paint it, without depending on QtGui: components 0 ... 1.
struct Rgba {
  double red = 0, green = 0, blue = 0, alpha = 1;
  bool operator==(const Rgba&) const = default;
  // 0xAARRGGBB, the layout of QRgb.
  std::uint32_t argb() const;
};

// The colour rule shared by the chart and the list swatches, so that one branch of the
// current folder has one hue everywhere.
namespace Palette {

Rgba fromHsb(double hue, double saturation, double brightness, double alpha = 1);
// branchIndex: position of the branch among the current folder's children; level: 0 for a
// child of the current folder (ring 1 of the chart), one more per level below.
Rgba entry(int branchIndex, int level, bool isDirectory);
// The grey of a chart segment that stands for many small entries.
Rgba aggregate();

}  // namespace Palette
}  // namespace tallyfox
