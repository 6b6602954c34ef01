// Angle constants, and the conversions between radians (used inside every algorithm) and
// degrees (used only at the edges: parameters, log lines, direction indices).
#pragma once

namespace NSVelkBinaural {
namespace Angles {

inline constexpr double Zero = 0.0;
inline constexpr double AnglePi = 3.141592653589793;
inline constexpr double AnglePi2 = 1.5707963267948966;      // pi / 2
inline constexpr double AnglePi4 = 0.7853981633974483;      // pi / 4
inline constexpr double Angle1Pi = 0.3183098861837907;      // 1 / pi
inline constexpr double Angle2Pi = 0.6366197723675814;      // 2 / pi (not 2 pi)
inline constexpr double Angle2SqrtPi = 1.1283791670955126;  // 2 / sqrt(pi)

}  // namespace Angles

inline constexpr double DegToRad(double degrees) { return degrees * Angles::AnglePi / 180.0; }
inline constexpr double RadToDeg(double radians) { return 180.0 * radians / Angles::AnglePi; }

}  // namespace NSVelkBinaural
