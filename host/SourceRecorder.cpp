#include "fd/SourceRecorder.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "NodeParameters.h"
#include "fd/Source.h"

namespace FD {

namespace {
// A number as JSON writers print it: the shortest text that reads back to the same double, with
// ".0" on whole numbers so that it still reads as a real number.
void appendNumber(std::string& line, double value) {
  char text[32];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
  std::string_view number(text, static_cast<size_t>(r.ptr - text));
  line += number;
  if (number.find_first_of(".e") == std::string_view::npos) line += ".0";
}
}  // namespace

NodeInfo SourceRecorder::describe() {
  NodeInfo info;
  info.description =
      "Writes each frame's source list as a JSON line {\"frame\": k, \"time\": seconds, \"sources\": [{\"id\": n, "
      "\"azimuth\": degrees}]}; azimuth = atan2(y, x), 0 ahead, positive to the left.";
  info.inputs = {{"INPUT", "Vector<ObjectRef>", "the frame's sources (Source records); nil = none"}};
  info.outputs = {{"OUTPUT", "Vector<ObjectRef>", "the input list, unchanged"}};
  info.parameters = {
      velkparam::Declaration::Text("FILENAME", "sources.jsonl",
                            "path of the JSON-lines file to write, relative to the working directory; \"-\" for standard output"),
      param::samplingRate("sampling rate of the network, for the frame time"),
      param::advance("frame shift, for the frame time"),
  };
  return info;
}

SourceRecorder::SourceRecorder(std::string nodeName, const ParameterSet& params)
    : BufferedNode(std::move(nodeName), params) {
  inputId_ = addInput("INPUT");
  outputId_ = addOutput("OUTPUT");
  path_ = param::text(*this, parameters, "FILENAME");
  samplingRate_ = param::integer(*this, parameters, "SAMPLING_RATE");
  advance_ = param::integer(*this, parameters, "ADVANCE");
  checkDeclaredParameters(*this, parameters, describe().parameters);
  inOrder = true;  // one line per frame, in frame order
  if (path_ == "-") {
    lineByLine_ = true;
    return;
  }
  try {
    output_ = std::make_unique<fileio::OutputFile>(path_);
  } catch (const std::runtime_error& e) {
    throw param::error(*this, "FILENAME", e.what());
  }
  file_.open(output_->writePath(), std::ios::out | std::ios::trunc);
  if (!file_) throw param::error(*this, "FILENAME", "cannot create \"" + path_ + "\": " + std::strerror(errno));
  lineByLine_ = output_->direct();
}

SourceRecorder::~SourceRecorder() = default;

// One line per frame, written by hand: building a JSON document per frame cost more than
// localising the frame.
void SourceRecorder::calculate(int, int count, Buffer& out) {
  ObjectRef in = getInput(inputId_, count);
  line_.assign("{\"frame\": ");
  line_ += std::to_string(count);
  line_ += ", \"time\": ";
  appendNumber(line_, static_cast<double>(count) * advance_ / samplingRate_);
  line_ += ", \"sources\": [";
  if (!in.isNil()) {
    auto* list = dynamic_cast<Vector<ObjectRef>*>(in.get());
    if (!list) throw inputError(*this, "INPUT", count, "expected a Vector<ObjectRef>, got " + in->className());
    for (size_t i = 0; i < list->size(); ++i) {
      auto* source = dynamic_cast<Source*>((*list)[i].get());
      if (!source)
        throw inputError(*this, "INPUT", count,
                         "element " + std::to_string(i) + " is " +
                             ((*list)[i].isNil() ? std::string("nil") : "a " + (*list)[i]->className()) +
                             ", not a Source");
      line_ += i ? ", {\"id\": " : "{\"id\": ";
      line_ += std::to_string(source->id);
      line_ += ", \"azimuth\": ";
      appendNumber(line_, AzimuthDegrees(*source));
      line_ += '}';
    }
  }
  line_ += "]}\n";
  if (!output_) {
    toStandardOutput();
  } else {
    errno = 0;
    file_ << line_;
    if (lineByLine_) file_.flush();
    if (!file_)
      throw new NodeException(this, "cannot write to \"" + path_ + "\"" +
                                        (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()),
                              "", 0);
  }
  out[count] = in;
}

void SourceRecorder::toStandardOutput() {
  for (size_t done = 0; done < line_.size();) {
    const ssize_t n = ::write(STDOUT_FILENO, line_.data() + done, line_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      throw new NodeException(this, std::string("cannot write to standard output: ") + std::strerror(n < 0 ? errno : EIO),
                              "", 0);
    done += static_cast<size_t>(n);
  }
}

void SourceRecorder::finish() {
  if (!output_ || !file_.is_open()) return;
  // The stream holds the last lines until it is flushed; a full disk shows only then.
  errno = 0;
  file_.close();
  if (file_) return;
  const std::string reason = errno ? std::string(": ") + std::strerror(errno) : "";
  throw new NodeException(this, "after the last frame: cannot write to \"" + path_ + "\"" + reason, "", 0);
}

void SourceRecorder::commit() {
  if (!output_) return;
  if (file_.is_open()) finish();
  // A stream that failed (and said so) leaves a file that must not take the destination's place.
  if (!file_) throw std::runtime_error("cannot write \"" + path_ + "\": an earlier write to it failed");
  output_->commit();
}

}  // namespace FD
