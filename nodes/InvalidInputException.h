// Reports input data a node cannot work with (a spectrum that is not two rows, say).
#pragma once

#include <string>

#include "fd/Exception.h"

namespace NSVelkBinaural {

class InvalidInputException : public FD::BaseException {
 public:
  explicit InvalidInputException(std::string message) : message_(std::move(message)) {}
  void print(std::ostream& out = std::cerr) override { out << message_ << std::endl; }
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

}  // namespace NSVelkBinaural
