// Angle constants, and the conversions between radians (used inside every algorithm) and
// degrees (used only at the edges: parameters, log lines, direction indices).
#pragma once

namespace NSVelkBinaural {
namespace Angles {

inline constexpr double AnglePi = 3.141592653589793;
inline constexpr double AnglePi2 = 1.5707963267948966;  // pi / 2

}  // namespace Angles

inline constexpr double DegToRad(double degrees) { return degrees * Angles::AnglePi / 180.0; }
inline constexpr double RadToDeg(double radians) { return 180.0 * radians / Angles::AnglePi; }

}  // namespace NSVelkBinaural
