// The source record that travels between nodes: a direction and an identifier.
//
// Azimuth a (radians, positive to the left) is stored as x = (cos a, sin a, 0). Header-only, so
// that a plug-in needs nothing of the host but its headers to make and read records.
#pragma once

#include <cmath>
#include <cstdint>
#include <ostream>

#include "fd/Export.h"
#include "fd/Values.h"

namespace FD {

class FD_API Source : public Object {
 public:
  Source() = default;
  // A record for azimuth `radians`: the cosine and sine are computed in double and stored as floats.
  static Source* atAzimuth(int id, double radians) {
    auto* source = new Source;
    source->id = id;
    source->x[0] = static_cast<float>(std::cos(radians));
    source->x[1] = static_cast<float>(std::sin(radians));
    return source;
  }
  // The azimuth of x in radians, computed in single precision.
  float azimuth() const { return std::atan2(x[1], x[0]); }

  // The printed form: five lines, each ended by a newline and a flush.
  void printOn(std::ostream& out = std::cout) const override {
    out << "<Source " << std::endl;
    out << "<x " << x[0] << " " << x[1] << " " << x[2] << " >" << std::endl;
    out << "<power " << power << " >" << std::endl;
    out << "<id " << id << " >" << std::endl;
    out << ">" << std::endl;
  }
  void readFrom(std::istream& = std::cin) override {}
  ObjectRef clone() override { return ObjectRef(new Source(*this)); }
  std::string className() const override { return "Source"; }

  float x[3] = {0.0f, 0.0f, 0.0f};
  float power = 0.0f;
  int id = 0;
  // Carried and copied with the record; no node of this library reads or writes them.
  float extraFloat0 = 0.0f;
  std::int32_t extraWord0 = 0, extraWord1 = 0;
  std::int32_t extraTriple0[3] = {0, 0, 0}, extraTriple1[3] = {0, 0, 0}, extraTriple2[3] = {0, 0, 0};
  float extraFloat1 = 0.0f;
};

// The source's azimuth in degrees (0 ahead, positive to the left), rounded to a millionth: below
// the precision of a float direction, and printed numbers stay short (30.0, not 29.999999168023).
inline double AzimuthDegrees(const Source& source) {
  const double degrees =
      std::atan2(static_cast<double>(source.x[1]), static_cast<double>(source.x[0])) * 180.0 / 3.141592653589793;
  return std::round(degrees * 1e6) / 1e6;
}

}  // namespace FD
