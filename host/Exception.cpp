#include "fd/Exception.h"

#include "fd/Buffer.h"
#include "fd/Node.h"

namespace FD {

BaseException* BaseException::add(BaseException* e) {
  auto* stack = new ExceptionStack;
  stack->add(this);
  stack->add(e);
  return stack;
}

std::string BaseException::text() {
  std::ostringstream out;
  print(out);
  std::string s = out.str();
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

ExceptionStack::~ExceptionStack() {
  for (BaseException* e : stack_) delete e;
}

void ExceptionStack::print(std::ostream& out) {
  for (BaseException* e : stack_) e->print(out);
}

BaseException* ExceptionStack::add(BaseException* e) {
  stack_.push_back(e);
  return this;
}

GeneralException::GeneralException(std::string message, std::string file, int line)
    : message_(std::move(message)), file_(std::move(file)), line_(line) {}

namespace {
std::string sourceText(const std::string& file, int line) {
  return file.empty() ? "" : file + ", line " + std::to_string(line);
}
}  // namespace

void GeneralException::print(std::ostream& out) { out << message_ << std::endl; }

std::string GeneralException::source() const { return sourceText(file_, line_); }

NodeException::NodeException(const Node* node, std::string message, std::string file, int line)
    : nodeName_(node ? node->getName() : std::string()),
      message_(std::move(message)),
      file_(std::move(file)),
      line_(line) {}

void NodeException::print(std::ostream& out) { out << "Node \"" << nodeName_ << "\": " << message_ << std::endl; }

std::string NodeException::source() const { return sourceText(file_, line_); }

ParameterException::ParameterException(std::string nodeName, std::string parameter)
    : nodeName_(std::move(nodeName)), parameter_(std::move(parameter)) {}

void ParameterException::print(std::ostream& out) {
  out << "Node \"" << nodeName_ << "\": missing parameter \"" << parameter_ << "\"" << std::endl;
}

BufferException::BufferException(std::string message, const Buffer* buffer, int index)
    : message_(std::move(message)), buffer_(buffer), index_(index) {}

void BufferException::print(std::ostream& out) {
  out << "Buffer exception: " << message_ << " (index " << index_;
  if (buffer_) out << ", buffer holds " << buffer_->capacity() << " frames up to " << buffer_->newest();
  out << ")" << std::endl;
}

}  // namespace FD
