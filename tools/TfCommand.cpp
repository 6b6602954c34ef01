// `velk-binaural tf`: make and inspect transfer-function files.
//   tf import-sofa IN.sofa OUT   a measured table from a SOFA set of head-related responses
//   tf model OUT                 a geometric table of a rigid spherical head
//   tf info FILE                 what a file holds (printed on standard output)
//   tf fit-head IN               the rigid sphere that best matches a measured head
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Commands.h"
#include "OptionChecks.h"
#include "velkfileio/OutputFile.h"
#include "velkio/HeadFit.h"
#include "velkio/HeadModel.h"
#include "velkio/SofaImport.h"
#include "velkio/VELK.h"

namespace velktool {

namespace {

// The lowest rate the SOFA library resamples to.
constexpr int kMinSofaFs = 8000;

// Transform lengths must be even, so that nfft/2 + 1 bins match the spectra of 2 x bins - 2.
CLI::Validator EvenLength() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const std::string accepted = "an even transform length";
        const std::string problem = numberProblem(text, {2, velkio::kMaxTransformLength}, true, accepted);
        if (!problem.empty() || std::stol(text) % 2 == 0) return problem;
        return text + " is odd (accepted: " + accepted + ", from 2 to " + std::to_string(velkio::kMaxTransformLength) + ")";
      },
      "EVEN");
}

// Sources spread over 180 degrees need a whole-degree spacing: 1 or one more than a divisor of 180.
CLI::Validator DirectionCount() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const std::string accepted = "a direction count, 1 or one more than a divisor of 180 (e.g. 7, 19, 37)";
        const std::string problem = numberProblem(text, {1, 181}, true, accepted);
        if (!problem.empty()) return problem;
        const long n = std::stol(text);
        if (n == 1 || 180 % (n - 1) == 0) return "";
        return text + " directions do not spread over 180 degrees in whole-degree steps (accepted: " + accepted + ")";
      },
      "COUNT");
}

std::string describeSize(const velkio::TFPtr& tf) {
  if (!tf || tf->empty()) return "none";
  std::ostringstream text;
  text << tf->size() << " directions x " << (*tf)[0].size() << " channels x "
       << ((*tf)[0].empty() ? 0 : (*tf)[0][0].size()) << " bins";
  return text.str();
}

// "37, from -90 to 90 every 5 degrees" for a regular grid, else the list of azimuths.
std::string describeAzimuths(const std::vector<double>& azimuths) {
  std::ostringstream text;
  text << azimuths.size();
  if (azimuths.empty()) return text.str();
  bool regular = azimuths.size() >= 2;
  const double step = regular ? std::nearbyint(azimuths[1] - azimuths[0]) : 0.0;
  for (std::size_t i = 0; regular && i < azimuths.size(); ++i)
    regular = std::fabs(azimuths[i] - (azimuths[0] + i * step)) < 0.05 && step != 0.0;
  if (regular) {
    text << ", from " << azimuths.front() << " to " << azimuths.back() << " every " << step
         << " degrees";
  } else {
    text << ":";
    for (double a : azimuths) text << " " << a;
  }
  return text.str();
}

void printMeasured(const velkio::M2PG& m2pg, std::ostream& out) {
  std::vector<double> azimuths;
  bool onePerDirection = true;
  double nearest = INFINITY, farthest = 0.0;
  for (const auto& positions : m2pg.getSrc()) {
    if (positions.size() != 1) onePerDirection = false;
    if (positions.empty()) continue;
    const velkio::Position& p = positions[0];
    azimuths.push_back(std::round(std::atan2(p.y, p.x) * 1800.0 / M_PI) / 10.0);
    const double r = std::sqrt(double(p.x) * p.x + double(p.y) * p.y + double(p.z) * p.z);
    nearest = std::min(nearest, r);
    farthest = std::max(farthest, r);
  }
  out << "  directions: " << describeAzimuths(azimuths) << "\n";
  if (!onePerDirection) out << "  (some directions hold other than one position)\n";
  if (!azimuths.empty()) {
    out << "  source distance: " << nearest;
    if (farthest - nearest > 1e-4 * farthest) out << " to " << farthest;
    out << " m\n";
  }
  out << "  responses: " << describeSize(m2pg.getTF()) << "\n";
}

void printGeometric(const velkio::GTF& gtf, std::ostream& out) {
  const unsigned n = gtf.getNSrc();
  out << "  directions: " << n;
  if (n == 1) out << ", straight ahead";
  if (n > 1) out << ", spread over -90 to 90 degrees (" << 180.0 / (n - 1) << " degrees apart)";
  out << "\n  responses: " << describeSize(gtf.getTF()) << "\n";
}

void printInfo(const std::string& path, const velkio::VELK& file, std::ostream& out) {
  out << path << "\n";
  for (const velkio::ChunkPtr& chunk : file.getChunkList("")) {
    out << "chunk \"" << chunk->getChunkId() << "\"\n";
    if (auto fmt = std::dynamic_pointer_cast<velkio::FMT>(chunk)) {
      const int id = fmt->getFormatId();
      out << "  version: " << fmt->getMajorVersion() << "." << fmt->getMinorVersion() << "\n"
          << "  format: " << id
          << (id == velkio::FMT::MEASURED    ? " (measured source positions)"
              : id == velkio::FMT::GEOMETRIC ? " (geometric model)"
                                             : " (unknown)")
          << "\n"
          << "  sampling rate: " << fmt->getNFS() << " Hz\n"
          << "  transform length: " << fmt->getNFFT() << " (" << fmt->getNFFT() / 2 + 1
          << " bins)\n"
          << "  impulse-response length: " << fmt->getNIR() << "\n";
    } else if (auto m2pg = std::dynamic_pointer_cast<velkio::M2PG>(chunk)) {
      printMeasured(*m2pg, out);
    } else if (auto gtf = std::dynamic_pointer_cast<velkio::GTF>(chunk)) {
      printGeometric(*gtf, out);
    }
  }
  for (const velkio::SkippedChunk& skipped : file.getSkippedChunks())
    out << "skipped chunk \"" << skipped.id << "\" at byte " << skipped.offset << " ("
        << skipped.size << " bytes)\n";
}

void summarise(const std::string& path, const velkio::VELK& file) {
  std::string what = "?";
  if (auto m2pg = file.findFirst<velkio::M2PG>()) what = describeSize(m2pg->getTF());
  if (auto gtf = file.findFirst<velkio::GTF>()) what = describeSize(gtf->getTF());
  std::cerr << "velk-binaural: wrote " << path << " (" << what << ")" << std::endl;
}

struct ImportArgs {
  std::string in, out, range = "front";
  velkio::SofaImportOptions options;
};

void addImportSofa(CLI::App& tf, Status& status) {
  auto args = std::make_shared<ImportArgs>();
  CLI::App* cmd = tf.add_subcommand(
      "import-sofa",
      "Make a measured table from a SimpleFreeFieldHRIR SOFA set: the horizontal-plane responses, "
      "in ascending azimuth, resampled and transformed (channel c = SOFA receiver c, 0 = left).");
  cmd->add_option("IN", args->in, "SOFA file")->required();
  cmd->add_option("OUT", args->out, "transfer-function file to write")->required();
  cmd->add_option("--fs", args->options.fs, "sampling rate of the table, Hz")
      ->check(WholeNumber({kMinSofaFs, velkio::kMaxSamplingRate}, "a sampling rate in Hz"))
      ->capture_default_str();
  cmd->add_option("--nfft", args->options.nfft, "transform length (nfft/2 + 1 bins)")
      ->check(EvenLength())
      ->capture_default_str();
  cmd->add_option("--range", args->range, "front: -90..+90 degrees; full: -180..175")
      ->check(CLI::IsMember({"front", "full"}))
      ->capture_default_str();
  cmd->add_option("--step", args->options.step, "degrees between directions; must divide the range")
      ->check(WholeNumber({1, 180}, "a step in whole degrees"))
      ->capture_default_str();
  cmd->callback([args, &status]() {
    args->options.range =
        args->range == "full" ? velkio::DirectionRange::FULL : velkio::DirectionRange::FRONT;
    const int span = args->range == "full" ? 360 : 180;
    if (span % args->options.step != 0)
      throw CLI::ValidationError("--step", std::to_string(args->options.step) + " does not divide the " +
                                               std::to_string(span) + " degrees of --range " + args->range +
                                               " (accepted: a divisor of " + std::to_string(span) + ", e.g. 5)");
    if (fileio::sameFile(args->in, args->out))
      throw CLI::ValidationError("OUT", args->out + " is the same file as the SOFA set IN " + args->in +
                                            ", which writing it would destroy; choose another file for OUT");
    try {
      std::vector<std::string> notes;
      const velkio::VELK file = velkio::importSofa(args->in, args->options, &notes);
      for (const std::string& note : notes) std::cerr << "velk-binaural: note: " << note << std::endl;
      file.writeFile(args->out);
      summarise(args->out, file);
    } catch (const std::exception& e) {
      status.code = fail(e.what());
    }
  });
}

struct ModelArgs {
  std::string out;
  velkio::HeadModelOptions options;
};

void addModel(CLI::App& tf, Status& status) {
  auto args = std::make_shared<ModelArgs>();
  CLI::App* cmd = tf.add_subcommand(
      "model",
      "Make a geometric table of a rigid spherical head: channel 0 the left ear, channel 1 the "
      "right, sources spread evenly over -90..+90 degrees.");
  cmd->add_option("OUT", args->out, "transfer-function file to write")->required();
  cmd->add_option("--radius", args->options.radius, "head radius, metres")
      ->check(RealNumber({0, 1, true}, "a head radius in metres"))
      ->capture_default_str();
  cmd->add_option("--distance", args->options.distance, "source distance from the head centre, metres")
      ->check(RealNumber({0, 100, true}, "a source distance in metres, beyond --radius"))
      ->capture_default_str();
  cmd->add_option("--directions", args->options.directions, "number of source directions (37: every 5 degrees)")
      ->check(DirectionCount())
      ->capture_default_str();
  cmd->add_option("--fs", args->options.fs, "sampling rate of the table, Hz")
      ->check(WholeNumber({1, velkio::kMaxSamplingRate}, "a sampling rate in Hz"))
      ->capture_default_str();
  cmd->add_option("--nfft", args->options.nfft, "transform length (nfft/2 + 1 bins)")
      ->check(EvenLength())
      ->capture_default_str();
  cmd->callback([args, &status]() {
    if (!(args->options.distance > args->options.radius))
      throw CLI::ValidationError("--distance", plainNumber(args->options.distance) + " m lies inside the head "
                                               "(accepted: a distance beyond --radius " +
                                               plainNumber(args->options.radius) + " m)");
    try {
      const velkio::VELK file = velkio::makeHeadModel(args->options);
      file.writeFile(args->out);
      summarise(args->out, file);
    } catch (const std::exception& e) {
      status.code = fail(e.what());
    }
  });
}

void addInfo(CLI::App& tf, Status& status) {
  auto path = std::make_shared<std::string>();
  CLI::App* cmd = tf.add_subcommand(
      "info", "Print a transfer-function file's format, rate, transform length, direction grid "
              "and channel count.");
  cmd->add_option("FILE", *path, "transfer-function file")->required();
  cmd->callback([path, &status]() {
    try {
      velkio::VELK file;
      file.readFile(*path);
      printInfo(*path, file, std::cout);
      std::cout.flush();
    } catch (const std::exception& e) {
      status.code = fail(e.what());
    }
  });
}

struct FitArgs {
  std::string in;
  velkio::HeadFitOptions options;
};

bool endsWithSofa(const std::string& path) {
  if (path.size() < 5) return false;
  std::string tail = path.substr(path.size() - 5);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".sofa";
}

// A SOFA set is taken as the localiser's tables are made from it: the front half-plane every 5
// degrees at 16 kHz with 512 points.
velkio::VELK readMeasuredHead(const std::string& path) {
  if (endsWithSofa(path)) return velkio::importSofa(path, {});
  velkio::VELK file;
  file.readFile(path);
  return file;
}

void printFit(const FitArgs& args, const velkio::VELK& table, std::ostream& out) {
  const velkio::HeadFitOptions& o = args.options;
  const velkio::HeadFit fit = velkio::fitSphereHead(table, o);
  char line[256];
  std::snprintf(line, sizeof line, "%s: %zu directions, %zu bins from %.0f to %.0f Hz\n", args.in.c_str(),
                fit.directions, fit.bins, o.minFrequencyHz, o.maxFrequencyHz);
  out << line;
  std::snprintf(line, sizeof line, "fitted sphere: radius %.4f m at a source distance of %.3f m%s\n", fit.radius,
                fit.distance, o.fitDistance ? " (fitted)" : o.distance > 0.0 ? "" : " (the table's)");
  out << line;
  std::snprintf(line, sizeof line, "residual: %.3f rad RMS of interaural phase (%.1f us RMS as interaural time)\n",
                fit.rmsPhaseErrorRad, fit.rmsDelayErrorUs);
  out << line;
  const velkio::HeadModelOptions defaults;
  const velkio::HeadFit standard = velkio::sphereResidual(table, defaults.radius, defaults.distance, o);
  std::snprintf(line, sizeof line, "the default sphere (radius %.2f m, %.1f m): %.3f rad RMS (%.1f us RMS)\n",
                defaults.radius, defaults.distance, standard.rmsPhaseErrorRad, standard.rmsDelayErrorUs);
  out << line;
  out << "\ninteraural time difference, us (left ear first > 0):\n";
  std::snprintf(line, sizeof line, "%9s %9s %9s %9s\n", "azimuth", "measured", "fitted", "default");
  out << line;
  const auto fitted = velkio::interauralDelays(table, fit.radius, o.fitDistance ? fit.distance : o.distance, o);
  const auto standardDelays = velkio::interauralDelays(table, defaults.radius, defaults.distance, o);
  for (size_t d = 0; d < fitted.size(); ++d) {
    std::snprintf(line, sizeof line, "%+9.1f %9.0f %9.0f %9.0f\n", fitted[d].azimuthDeg, fitted[d].measuredUs,
                  fitted[d].modelUs, standardDelays[d].modelUs);
    out << line;
  }
}

void addFitHead(CLI::App& tf, Status& status) {
  auto args = std::make_shared<FitArgs>();
  CLI::App* cmd = tf.add_subcommand(
      "fit-head",
      "Fit the rigid-sphere head model to a measured head: the radius (and with --fit-distance the source "
      "distance) whose interaural phase differences at low frequencies come closest, by least squares, to those "
      "of a SOFA set (*.sofa, its front half-plane every 5 degrees) or a measured transfer-function file.");
  cmd->add_option("IN", args->in, "SOFA set or transfer-function file (channel 0 the left ear)")->required();
  cmd->add_option("--fmin", args->options.minFrequencyHz, "lowest frequency compared, Hz")
      ->check(RealNumber({1, 100000}, "a frequency in Hz"))
      ->capture_default_str();
  cmd->add_option("--fmax", args->options.maxFrequencyHz, "highest frequency compared, Hz")
      ->check(RealNumber({1, 100000}, "a frequency in Hz, above --fmin"))
      ->capture_default_str();
  cmd->add_option("--distance", args->options.distance,
                  "source distance of the model, metres (default: the measured distances)")
      ->check(RealNumber({0.01, 1000}, "a source distance in metres"));
  auto fitDistance = cmd->add_flag("--fit-distance", args->options.fitDistance, "fit the source distance as well");
  cmd->get_option("--distance")->excludes(fitDistance);
  cmd->callback([args, &status]() {
    if (!(args->options.maxFrequencyHz > args->options.minFrequencyHz))
      throw CLI::ValidationError("--fmax", plainNumber(args->options.maxFrequencyHz) + " Hz is not above --fmin " +
                                               plainNumber(args->options.minFrequencyHz) + " Hz");
    try {
      printFit(*args, readMeasuredHead(args->in), std::cout);
      std::cout.flush();
    } catch (const std::exception& e) {
      status.code = fail(e.what());
    }
  });
}

}  // namespace

void addTfCommands(CLI::App& app, Status& status) {
  CLI::App* tf = app.add_subcommand("tf", "Make and inspect transfer-function files.");
  tf->require_subcommand(1);
  addImportSofa(*tf, status);
  addModel(*tf, status);
  addInfo(*tf, status);
  addFitHead(*tf, status);
}

}  // namespace velktool
