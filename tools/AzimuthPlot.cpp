#include "AzimuthPlot.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace velktool {

namespace {

// Plot geometry in SVG user units.
constexpr double kWidth = 960, kHeight = 480;
constexpr double kLeft = 80, kRight = 40, kTop = 50, kBottom = 60;
constexpr double kPlotW = kWidth - kLeft - kRight, kPlotH = kHeight - kTop - kBottom;

// Well-separated colours; ids beyond the list reuse it.
const char* const kPalette[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd",
                                "#8c564b", "#e377c2", "#17becf", "#bcbd22", "#7f7f7f"};

const char* colourOf(int id) {
  const int n = static_cast<int>(sizeof(kPalette) / sizeof(kPalette[0]));
  return kPalette[((id % n) + n) % n];
}

std::string escapeXml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string fixed(double v, int decimals) {
  std::ostringstream s;
  s.setf(std::ios::fixed);
  s.precision(decimals);
  s << v;
  return s.str();
}

// A tick spacing of 1, 2 or 5 times a power of ten giving about `wanted` ticks over `span`.
double niceStep(double span, int wanted) {
  const double raw = span / wanted;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0})
    if (m * power >= raw) return m * power;
  return 10.0 * power;
}

struct Axes {
  double tMax, azMin, azMax;
  double x(double t) const { return kLeft + kPlotW * t / tMax; }
  double y(double az) const { return kTop + kPlotH * (azMax - az) / (azMax - azMin); }
};

Axes chooseAxes(const std::vector<FrameSources>& frames, const PlotOptions& options) {
  double tMax = options.durationSec;
  double azAbs = 90.0;
  for (const FrameSources& f : frames) {
    tMax = std::max(tMax, f.timeSec);
    for (const SourceAt& s : f.sources) azAbs = std::max(azAbs, std::fabs(s.azimuthDeg));
  }
  for (double a : options.referenceAzimuthsDeg) azAbs = std::max(azAbs, std::fabs(a));
  if (tMax <= 0.0) tMax = 1.0;
  azAbs = azAbs > 90.0 ? 180.0 : 90.0;
  return Axes{tMax, -azAbs, azAbs};
}

void writeGridAndAxes(std::ostream& out, const Axes& axes) {
  out << "<g stroke=\"#dddddd\" stroke-width=\"1\">\n";
  const double tStep = niceStep(axes.tMax, 10);
  for (double t = 0; t <= axes.tMax + 1e-9; t += tStep)
    out << "<line x1=\"" << fixed(axes.x(t), 1) << "\" y1=\"" << kTop << "\" x2=\"" << fixed(axes.x(t), 1)
        << "\" y2=\"" << kTop + kPlotH << "\"/>\n";
  for (double az = axes.azMin; az <= axes.azMax + 1e-9; az += 30.0)
    out << "<line x1=\"" << kLeft << "\" y1=\"" << fixed(axes.y(az), 1) << "\" x2=\"" << kLeft + kPlotW
        << "\" y2=\"" << fixed(axes.y(az), 1) << "\"/>\n";
  out << "</g>\n";
  out << "<rect x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kPlotW << "\" height=\"" << kPlotH
      << "\" fill=\"none\" stroke=\"#333333\"/>\n";
  out << "<g font-family=\"sans-serif\" font-size=\"12\" fill=\"#333333\">\n";
  const int tDecimals = tStep < 1.0 ? 1 : 0;
  for (double t = 0; t <= axes.tMax + 1e-9; t += tStep)
    out << "<text x=\"" << fixed(axes.x(t), 1) << "\" y=\"" << kTop + kPlotH + 18
        << "\" text-anchor=\"middle\">" << fixed(t, tDecimals) << "</text>\n";
  for (double az = axes.azMin; az <= axes.azMax + 1e-9; az += 30.0)
    out << "<text x=\"" << kLeft - 8 << "\" y=\"" << fixed(axes.y(az) + 4, 1) << "\" text-anchor=\"end\">"
        << fixed(az, 0) << "</text>\n";
  out << "<text x=\"" << kLeft + kPlotW / 2 << "\" y=\"" << kHeight - 15
      << "\" text-anchor=\"middle\" font-size=\"14\">time (s)</text>\n";
  out << "<text transform=\"translate(22," << kTop + kPlotH / 2
      << ") rotate(-90)\" text-anchor=\"middle\" font-size=\"14\">azimuth (degrees, left +, right -)</text>\n";
  out << "</g>\n";
}

void writeReferences(std::ostream& out, const Axes& axes, const std::vector<double>& azimuths) {
  for (double az : azimuths)
    out << "<line x1=\"" << kLeft << "\" y1=\"" << fixed(axes.y(az), 1) << "\" x2=\"" << kLeft + kPlotW
        << "\" y2=\"" << fixed(axes.y(az), 1)
        << "\" stroke=\"#888888\" stroke-width=\"1.5\" stroke-dasharray=\"6,4\"/>\n";
}

struct Point {
  long frame;
  double t, az;
};

// One polyline per run of consecutive frames, a dot for a run of one frame, and a label with the
// id (and the track's median direction) where the track starts.
void writeTrack(std::ostream& out, const Axes& axes, int id, const std::vector<Point>& points, long stride) {
  const char* colour = colourOf(id);
  out << "<g stroke=\"" << colour << "\" fill=\"" << colour << "\">\n";
  size_t start = 0;
  while (start < points.size()) {
    size_t end = start + 1;
    while (end < points.size() && points[end].frame == points[end - 1].frame + stride) ++end;
    if (end - start == 1) {
      out << "<circle cx=\"" << fixed(axes.x(points[start].t), 1) << "\" cy=\""
          << fixed(axes.y(points[start].az), 1) << "\" r=\"2\" stroke=\"none\"/>\n";
    } else {
      out << "<polyline fill=\"none\" stroke-width=\"2.5\" points=\"";
      for (size_t i = start; i < end; ++i)
        out << fixed(axes.x(points[i].t), 1) << "," << fixed(axes.y(points[i].az), 1) << " ";
      out << "\"/>\n";
    }
    start = end;
  }
  std::vector<double> azimuths;
  for (const Point& p : points) azimuths.push_back(p.az);
  const double labelX = std::min(axes.x(points.front().t) + 4, kLeft + kPlotW - 90);
  const double labelY = std::max(axes.y(points.front().az) - 8, kTop + 14);  // inside the frame
  out << "<text x=\"" << fixed(labelX, 1) << "\" y=\"" << fixed(labelY, 1)
      << "\" stroke=\"none\" font-family=\"sans-serif\" font-size=\"13\" font-weight=\"bold\">id " << id << " ("
      << fixed(median(azimuths), 0) << "&#176;)</text>\n";
  out << "</g>\n";
}

}  // namespace

void writeAzimuthPlot(std::ostream& out, const std::vector<FrameSources>& frames, const PlotOptions& options) {
  const Axes axes = chooseAxes(frames, options);
  std::map<int, std::vector<Point>> tracks;
  for (const FrameSources& f : frames)
    for (const SourceAt& s : f.sources) tracks[s.id].push_back({f.frame, f.timeSec, s.azimuthDeg});

  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << kHeight
      << "\" viewBox=\"0 0 " << kWidth << " " << kHeight << "\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"" << kWidth / 2 << "\" y=\"30\" text-anchor=\"middle\" font-family=\"sans-serif\" "
      << "font-size=\"16\">" << escapeXml(options.title) << "</text>\n";
  writeGridAndAxes(out, axes);
  writeReferences(out, axes, options.referenceAzimuthsDeg);
  for (const auto& track : tracks) writeTrack(out, axes, track.first, track.second, std::max(1L, options.frameStride));
  if (tracks.empty())
    out << "<text x=\"" << kLeft + kPlotW / 2 << "\" y=\"" << kTop + kPlotH / 2
        << "\" text-anchor=\"middle\" font-family=\"sans-serif\" font-size=\"14\" fill=\"#888888\">"
        << "no source found</text>\n";
  out << "</svg>\n";
}

void writeAzimuthPlotFile(const std::string& path, const std::vector<FrameSources>& frames,
                          const PlotOptions& options) {
  std::ofstream out(path);
  if (!out) throw std::runtime_error("cannot write the plot " + path);
  writeAzimuthPlot(out, frames, options);
  out.close();
  if (!out) throw std::runtime_error("cannot write the plot " + path);
}

}  // namespace velktool
