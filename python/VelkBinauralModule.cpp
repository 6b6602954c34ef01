// The Python module `velk_binaural`: the library's localiser and separator for numpy arrays, as
// streams (blocks of any length) and as one-call helpers for whole recordings.
//
// Everything runs exactly as the command line runs it: the same frame length and window, the
// same defaults (the localiser's recommended stages, the separator's declared defaults, the
// example table for the measured method), and every parameter checked by the library's own
// parameter tables, so a refused value gives the command line's message (as ValueError).
// Processing releases the GIL.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <complex>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Streams.h"

namespace py = pybind11;
using namespace velkpy;

namespace {

// ---- values from Python -----------------------------------------------------------------------

bool IsInteger(const py::handle& v) {
  return !py::isinstance<py::bool_>(v) && (py::isinstance<py::int_>(v) || py::hasattr(v, "__index__"));
}
bool IsReal(const py::handle& v) {
  return !py::isinstance<py::bool_>(v) && !IsInteger(v) && (py::isinstance<py::float_>(v) || py::hasattr(v, "__float__"));
}

// A keyword argument as a parameter value: ints, floats, texts and lists of numbers; anything else
// (a bool, None, a dict) is refused naming the argument.
velkparam::Value ToValue(const std::string& name, const py::handle& v) {
  if (IsInteger(v)) {
    const long long n = py::int_(py::reinterpret_borrow<py::object>(v)).cast<long long>();
    if (n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
      throw py::value_error(name + "=" + std::to_string(n) + ": out of the range of an int");
    return static_cast<int>(n);
  }
  if (IsReal(v)) return static_cast<float>(py::float_(py::reinterpret_borrow<py::object>(v)).cast<double>());
  if (py::isinstance<py::str>(v)) return v.cast<std::string>();
  if (py::isinstance<py::list>(v) || py::isinstance<py::tuple>(v)) {
    const py::sequence items = py::reinterpret_borrow<py::sequence>(v);
    bool allIntegers = true;
    for (const py::handle& item : items) {
      if (!IsInteger(item) && !IsReal(item))
        throw py::type_error(name + ": expected a list of numbers, got an element " +
                             std::string(py::str(py::repr(item))));
      allIntegers = allIntegers && IsInteger(item);
    }
    if (allIntegers) {
      std::vector<int> list;
      for (const py::handle& item : items) list.push_back(std::get<int>(ToValue(name, item)));
      return list;
    }
    std::vector<float> list;
    for (const py::handle& item : items) list.push_back(static_cast<float>(item.cast<double>()));
    return list;
  }
  throw py::type_error(name + ": expected a number, a text or a list of numbers, got " +
                       std::string(py::str(py::type::of(v).attr("__name__"))));
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Keyword arguments named as parameters (in either case: head_radius or HEAD_RADIUS).
velkparam::Values ToValues(const py::kwargs& kwargs) {
  velkparam::Values values;
  for (const auto& [key, value] : kwargs) {
    const std::string name = Upper(key.cast<std::string>());
    if (values.count(name)) throw py::type_error("parameter " + name + " is given twice");
    values[name] = ToValue(name, value);
  }
  return values;
}

// ---- arrays -------------------------------------------------------------------------------------

std::string ShapeText(const py::array& a) {
  std::ostringstream text;
  text << "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) text << (i ? ", " : "") << a.shape(i);
  text << (a.ndim() == 1 ? ",)" : ")");
  return text.str();
}

// `block` as contiguous float32 samples of shape (n, 2); a wrong type, dtype or shape is refused
// with what was expected (a copy is made only for a non-contiguous array).
py::array_t<float, py::array::c_style> StereoSamples(const py::handle& block, const char* what) {
  if (!py::isinstance<py::array>(block))
    throw py::type_error(std::string(what) + " must be a numpy array of float32 samples of shape (n, 2), got " +
                         std::string(py::str(py::type::of(block).attr("__name__"))));
  const py::array a = py::reinterpret_borrow<py::array>(block);
  if (!a.dtype().is(py::dtype::of<float>()))
    throw py::type_error(std::string(what) + " must hold float32 samples, got dtype " + std::string(py::str(a.dtype())) +
                         "; convert it with x.astype(numpy.float32)");
  if (a.ndim() != 2 || a.shape(1) != 2)
    throw py::value_error(std::string(what) + " must have shape (n, 2), column 0 the left ear, got shape " +
                          ShapeText(a));
  return py::array_t<float, py::array::c_style>::ensure(a);
}

// A non-finite sample would spread through the spectra of every frame it touches: refused, naming
// where it is.
void CheckFinite(const float* samples, std::size_t frames, const char* what) {
  for (std::size_t i = 0; i < 2 * frames; ++i)
    if (!std::isfinite(samples[i]))
      throw py::value_error(std::string(what) + ": sample " + std::to_string(i / 2) + " of the " +
                            (i % 2 ? "right" : "left") + " ear is not a finite number");
}

// Samples per channel a whole recording is handed to a stream in.
constexpr std::size_t kChunkFrames = 8192;

template <class T>
void Append(std::vector<T>& to, const std::vector<T>& more) {
  to.insert(to.end(), more.begin(), more.end());
}

py::array_t<float> ToArray(const std::vector<float>& samples) {
  py::array_t<float> out(static_cast<py::ssize_t>(samples.size()));
  std::copy(samples.begin(), samples.end(), out.mutable_data());
  return out;
}

py::array ToArray(const std::vector<TrackPoint>& points) {
  py::array_t<TrackPoint> out(static_cast<py::ssize_t>(points.size()));
  std::copy(points.begin(), points.end(), out.mutable_data());
  return out;
}

std::vector<double> ToDirections(const py::handle& directions) {
  if (py::isinstance<py::str>(directions) || !py::isinstance<py::sequence>(directions))
    throw py::type_error("directions must be a sequence of azimuths in degrees, got " +
                         std::string(py::str(py::type::of(directions).attr("__name__"))));
  std::vector<double> degrees;
  for (const py::handle& d : py::reinterpret_borrow<py::sequence>(directions)) {
    if (!IsInteger(d) && !IsReal(d))
      throw py::type_error("directions[" + std::to_string(degrees.size()) + "] must be a number, got " +
                           std::string(py::str(py::repr(d))));
    degrees.push_back(d.cast<double>());
  }
  return degrees;
}

// ---- the classes as Python sees them --------------------------------------------------------------

Model ModelOf(const py::object& method, const py::object& tables, const py::object& head) {
  Model model;
  if (!method.is_none()) model.method = method.cast<std::string>();
  if (!tables.is_none()) model.tables = tables.cast<Tables>();
  if (!head.is_none()) model.head = head.cast<HeadModel>();
  return model;
}

class PyLocalizer {
 public:
  PyLocalizer(int fs, const py::object& method, const py::object& tables, const py::object& head,
              const std::string& tracks, const py::kwargs& params)
      : stream_(fs, ModelOf(method, tables, head), tracks, ToValues(params)) {}

  // `whole`: the block is the whole recording, and the stream ends with it.
  py::array Process(const py::handle& block, bool whole = false) {
    const auto samples = StereoSamples(block, whole ? "x" : "block");
    const auto frames = static_cast<std::size_t>(samples.shape(0));
    std::vector<TrackPoint> points;
    {
      py::gil_scoped_release release;
      CheckFinite(samples.data(), frames, whole ? "x" : "block");
      if (!whole) {
        points = stream_.Process(samples.data(), frames);
      } else {
        // In chunks, so that the samples waiting for their frames stay few whatever the length.
        for (std::size_t at = 0; at < frames; at += kChunkFrames)
          Append(points, stream_.Process(samples.data() + 2 * at, std::min(kChunkFrames, frames - at)));
        Append(points, stream_.Finish());
      }
    }
    return ToArray(points);
  }

  py::array Finish() {
    std::vector<TrackPoint> points;
    {
      py::gil_scoped_release release;
      points = stream_.Finish();
    }
    return ToArray(points);
  }

  const LocalizerStream& Stream() const { return stream_; }

 private:
  LocalizerStream stream_;
};

class PySeparator {
 public:
  PySeparator(int fs, const std::string& separator, const py::object& method, const py::object& tables,
              const py::kwargs& params)
      : stream_(fs, separator, ModelOf(method, tables, py::none()), ToValues(params)) {}

  std::vector<py::array_t<float>> Process(const py::handle& block, const py::handle& directions) {
    const auto samples = StereoSamples(block, "block");
    const std::vector<double> degrees = ToDirections(directions);
    const auto frames = static_cast<std::size_t>(samples.shape(0));
    std::vector<std::vector<float>> outputs;
    {
      py::gil_scoped_release release;
      CheckFinite(samples.data(), frames, "block");
      outputs = stream_.Process(samples.data(), frames, degrees);
    }
    return Arrays(outputs);
  }

  // The whole recording `x`, ending the stream: one array per direction, as long as x. It goes
  // through the stream in chunks, so that the samples waiting for their frames stay few (in the
  // cache) whatever its length, and the separated samples are written straight into the arrays.
  std::vector<py::array_t<float>> Whole(const py::handle& x, const py::handle& directions) {
    const auto samples = StereoSamples(x, "x");
    const std::vector<double> degrees = ToDirections(directions);
    const auto frames = static_cast<std::size_t>(samples.shape(0));
    std::vector<py::array_t<float>> arrays;
    std::vector<float*> out;
    for (std::size_t i = 0; i < degrees.size(); ++i) {
      arrays.emplace_back(static_cast<py::ssize_t>(frames));
      out.push_back(arrays.back().mutable_data());
    }
    {
      py::gil_scoped_release release;
      CheckFinite(samples.data(), frames, "x");
      std::size_t written = 0;
      auto take = [&](const std::vector<std::vector<float>>& part) {
        for (std::size_t i = 0; i < part.size(); ++i) std::copy(part[i].begin(), part[i].end(), out[i] + written);
        written += part.empty() ? 0 : part.front().size();
      };
      std::size_t at = 0;
      do {
        const std::size_t n = std::min(kChunkFrames, frames - at);
        take(stream_.Process(samples.data() + 2 * at, n, degrees));
        at += n;
      } while (at < frames);
      take(stream_.Finish());
    }
    return arrays;
  }

  std::vector<py::array_t<float>> Finish() {
    std::vector<std::vector<float>> outputs;
    {
      py::gil_scoped_release release;
      outputs = stream_.Finish();
    }
    return Arrays(outputs);
  }

 private:
  static std::vector<py::array_t<float>> Arrays(const std::vector<std::vector<float>>& outputs) {
    std::vector<py::array_t<float>> arrays;
    for (const std::vector<float>& o : outputs) arrays.push_back(ToArray(o));
    return arrays;
  }

  SeparatorStream stream_;
};

py::array Localize(const py::handle& x, int fs, const py::object& method, const py::object& tables,
                   const py::object& head, const std::string& tracks, const py::kwargs& params) {
  return PyLocalizer(fs, method, tables, head, tracks, params).Process(x, /*whole=*/true);
}

std::vector<py::array_t<float>> Separate(const py::handle& x, const py::handle& directions, int fs,
                                         const std::string& separator, const py::object& method,
                                         const py::object& tables, const py::kwargs& params) {
  return PySeparator(fs, separator, method, tables, params).Whole(x, directions);
}

const char* const kLocalizerDoc = R"(Finds talkers in a two-ear stream, block by block.

Localizer(fs=16000, method=None, tables=None, head=None, tracks="talkers", **params)

method: "epipolar" (the spherical head model; `head` from head_model() sets its radius and the
  talkers' distance) or "measured" (the measured tables: `tables` from load_tables(), by default
  the example table); by default "measured" when tables are given, else "epipolar".
tracks: "talkers" (talker tracks with stable ids) or "events" (the localiser's own sources,
  frame by frame).
params: any parameter of the localiser or of the talker tracker, named as `velk-binaural nodes`
  lists them (either case), e.g. noise_floor="FIRST_FRAMES" or GATE_ANGLE=15. Defaults are the command line's; a
  refused value raises ValueError with the command line's message.)";

const char* const kSeparatorDoc = R"(Separates talkers of known directions from a two-ear stream.

Separator(fs=16000, separator="mask", method=None, tables=None, **params)

separator: "mask" (soft masks over the whole band, learnt from the recording) or "passband"
  (keeps the bins whose interaural differences fit a band of directions around each talker).
method: "epipolar" (the spherical head model; the pass band keeps 0-1500 Hz) or "measured"
  (the measured tables: `tables` from load_tables(), by default the example table).
params: any parameter of the separator, named as `velk-binaural nodes` lists them (either case),
  e.g. MASK_FLOOR=0.1 or RANGE_MIN=15; defaults are the command line's.)";

}  // namespace

PYBIND11_MODULE(velk_binaural, m) {
  m.doc() =
      "Binaural localisation and separation for two-ear recordings (numpy float32 arrays of shape (n, 2), "
      "column 0 the left ear); azimuths in degrees, positive to the left.";
  PYBIND11_NUMPY_DTYPE(TrackPoint, id, azimuth, time);

  py::class_<Tables>(m, "Tables", "The interaural tables of a transfer-function file (from load_tables).")
      .def_property_readonly("path", [](const Tables& t) { return t.request.path; })
      .def_property_readonly("channels",
                             [](const Tables& t) { return py::make_tuple(t.request.leftChannel, t.request.rightChannel); })
      .def("__repr__", [](const Tables& t) {
        return "velk_binaural.Tables(path=" + std::string(py::str(py::repr(py::str(t.request.path)))) + ", channels=(" +
               std::to_string(t.request.leftChannel) + ", " + std::to_string(t.request.rightChannel) + "))";
      });
  m.def(
      "load_tables",
      [](const std::string& path, std::pair<int, int> channels) {
        py::gil_scoped_release release;
        return LoadTables(path, channels.first, channels.second);
      },
      py::arg("path"), py::arg("channels") = std::make_pair(0, 1),
      "Reads the measured tables of a transfer-function file; channels are the file's left and right ear.");

  py::class_<HeadModel>(m, "HeadModel", "The spherical head of the epipolar method (from head_model).")
      .def_readonly("radius", &HeadModel::radius)
      .def_readonly("distance", &HeadModel::distance)
      .def("__repr__", [](const HeadModel& h) {
        std::ostringstream text;
        text << "velk_binaural.HeadModel(radius=" << h.radius << ", distance=" << h.distance << ")";
        return text.str();
      });
  m.def(
      "head_model",
      [](const py::object& radius, const py::object& distance) {
        return MakeHeadModel(radius.is_none() ? std::nullopt : std::optional<float>(radius.cast<float>()),
                             distance.is_none() ? std::nullopt : std::optional<float>(distance.cast<float>()));
      },
      py::arg("radius") = py::none(), py::arg("distance") = py::none(),
      "The spherical head model: radius of the head and distance of the talkers, metres (defaults: the command "
      "line's).");

  py::class_<PyLocalizer>(m, "Localizer", kLocalizerDoc)
      .def(py::init<int, const py::object&, const py::object&, const py::object&, const std::string&,
                    const py::kwargs&>(),
           py::arg("fs") = DeclaredRate(), py::arg("method") = py::none(), py::arg("tables") = py::none(),
           py::arg("head") = py::none(), py::arg("tracks") = "talkers")
      .def("process", [](PyLocalizer& l, const py::handle& block) { return l.Process(block); }, py::arg("block"),
           "Takes the next block (float32, shape (n, 2), any n) and returns the sources of the frames it completed: "
           "a structured array with fields id, azimuth (degrees) and time (seconds, the frame's centre).")
      .def("finish", &PyLocalizer::Finish,
           "Ends the stream: returns the sources of the frames still waiting for samples (zeros past the end).")
      .def_property_readonly("parameters", [](const PyLocalizer& l) { return l.Stream().ParameterTexts(); },
                             "The parameters the localiser runs with, as text.");

  py::class_<PySeparator>(m, "Separator", kSeparatorDoc)
      .def(py::init<int, const std::string&, const py::object&, const py::object&, const py::kwargs&>(),
           py::arg("fs") = DeclaredRate(), py::arg("separator") = "mask", py::arg("method") = py::none(),
           py::arg("tables") = py::none())
      .def("process", &PySeparator::Process, py::arg("block"), py::arg("directions"),
           "Takes the next block (float32, shape (n, 2)) and the talkers' azimuths (degrees, as many on every "
           "call) and returns, per direction, the separated samples completed so far (float32, the ear on the "
           "talker's side).")
      .def("finish", &PySeparator::Finish, "Ends the stream: returns, per direction, the remaining samples.");

  m.def("localize", &Localize, py::arg("x"), py::arg("fs") = DeclaredRate(), py::arg("method") = py::none(),
        py::arg("tables") = py::none(), py::arg("head") = py::none(), py::arg("tracks") = "talkers",
        "Localises a whole recording (float32, shape (n, 2)): Localizer(...).process(x) and finish() in one call.");
  m.def("separate", &Separate, py::arg("x"), py::arg("directions"), py::arg("fs") = DeclaredRate(),
        py::arg("separator") = "mask", py::arg("method") = py::none(), py::arg("tables") = py::none(),
        "Separates the talkers at `directions` (degrees) from a whole recording: one float32 array per direction, "
        "exactly as long as x.");
}
