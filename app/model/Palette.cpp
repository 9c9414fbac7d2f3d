#include "model/Palette.h"

#include <algorithm>
#include <cmath>

namespace tallyfox {

std::uint32_t Rgba::argb() const {
  auto byte = [](double v) { return std::uint32_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
  return byte(alpha) << 24 | byte(red) << 16 | byte(green) << 8 | byte(blue);
}

namespace Palette {

Rgba fromHsb(double hue, double saturation, double brightness, double alpha) {
  const double h = (hue - std::floor(hue)) * 6.0;
  const double s = std::clamp(saturation, 0.0, 1.0);
  const double v = std::clamp(brightness, 0.0, 1.0);
  const int sector = int(h) % 6;
  const double f = h - std::floor(h);
  const double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
  switch (sector) {
    case 0:
      return {v, t, p, alpha};
    case 1:
      return {q, v, p, alpha};
    case 2:
      return {p, v, t, alpha};
    case 3:
      return {p, q, v, alpha};
    case 4:
      return {t, p, v, alpha};
    default:
      return {v, p, q, alpha};
  }
}

Rgba entry(int branchIndex, int level, bool isDirectory) {
  const double x = branchIndex * 0.618034 + 0.58;
  const double hue = x - std::floor(x);
  if (!isDirectory) return fromHsb(hue, 0.18, 0.72);
  // Deeper levels fade; the factor is deliberately not clamped below ring 5.
  const double t = level / 5.0;
  return fromHsb(hue, 0.72 - 0.35 * t, 0.88 - 0.12 * t);
}

Rgba aggregate() {
  return {0.5, 0.5, 0.5, 0.35};
}

}  // namespace Palette
}  // namespace tallyfox
