#include "velkdsp/Window.h"

#include <cmath>
#include <stdexcept>

namespace velkdsp {

const std::vector<std::string>& windowShapeNames() {
  static const std::vector<std::string> names{"HANN", "HAMMING", "RECTANGLE"};
  return names;
}

WindowShape windowShapeFromName(const std::string& name) {
  const std::vector<std::string>& names = windowShapeNames();
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<WindowShape>(i);
  throw std::invalid_argument("\"" + name + "\" is not a window (accepted: \"HANN\", \"HAMMING\", \"RECTANGLE\")");
}

std::vector<float> makeWindow(WindowShape shape, int length) {
  std::vector<float> w(static_cast<size_t>(std::max(length, 0)), 1.0f);
  const double step = 2.0 * M_PI / length;
  for (int n = 0; n < length; ++n) {
    const double c = std::cos(step * n);
    if (shape == WindowShape::Hann) w[n] = static_cast<float>(0.5 - 0.5 * c);
    if (shape == WindowShape::Hamming) w[n] = static_cast<float>(0.54 - 0.46 * c);
  }
  return w;
}

}  // namespace velkdsp
