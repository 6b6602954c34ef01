// Host exceptions. Nodes create them with `new` and throw the pointer; whoever catches one
// prints it and deletes it. ExceptionStack chains several (innermost first).
#pragma once

#include <iostream>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "fd/Export.h"

namespace FD {

class Node;

class FD_API BaseException {
 public:
  virtual ~BaseException() = default;
  virtual void print(std::ostream& out = std::cerr) = 0;
  // Chains `e` after this exception; returns the stack that now owns both.
  virtual BaseException* add(BaseException* e);
  // The printed form without the trailing newline, for one-line error reports.
  std::string text();
  // Where in the program's source the exception was raised ("file, line N"), or "" when that is
  // not recorded. For developers (debug output); the printed form leaves it out.
  virtual std::string source() const { return ""; }
};

class FD_API ExceptionStack : public BaseException {
 public:
  ExceptionStack() = default;
  ExceptionStack(const ExceptionStack&) = delete;
  ExceptionStack& operator=(const ExceptionStack&) = delete;
  ~ExceptionStack() override;
  void print(std::ostream& out = std::cerr) override;
  BaseException* add(BaseException* e) override;
  const std::vector<BaseException*>& entries() const { return stack_; }

 private:
  std::vector<BaseException*> stack_;
};

// Any host failure that belongs to no node (plug-in loading, network files, casts that went wrong).
class FD_API GeneralException : public BaseException {
 public:
  GeneralException(std::string message, std::string file = "", int line = 0);
  void print(std::ostream& out = std::cerr) override;
  std::string source() const override;
  const std::string& message() const { return message_; }

 private:
  std::string message_, file_;
  int line_;
};

// A failure raised by (or about) one node: the node's name is part of the printed form, the
// source file and line are not (see source()).
class FD_API NodeException : public BaseException {
 public:
  NodeException(const Node* node, std::string message, std::string file, int line);
  void print(std::ostream& out = std::cerr) override;
  std::string source() const override;
  const std::string& message() const { return message_; }
  const std::string& nodeName() const { return nodeName_; }

 private:
  std::string nodeName_, message_, file_;
  int line_;
};

// A parameter the node asked for is not in its parameter set.
class FD_API ParameterException : public BaseException {
 public:
  ParameterException(std::string nodeName, std::string parameter);
  void print(std::ostream& out = std::cerr) override;
  const std::string& parameter() const { return parameter_; }

 private:
  std::string nodeName_, parameter_;
};

class Buffer;
class FD_API BufferException : public BaseException {
 public:
  BufferException(std::string message, const Buffer* buffer, int index);
  void print(std::ostream& out = std::cerr) override;
  const std::string& message() const { return message_; }
  int index() const { return index_; }

 private:
  std::string message_;
  const Buffer* buffer_;
  int index_;
};

// An object was not of the type a node needed. `T` is the wanted type; the printed type text is
// the compiler's type-information name of T.
template <class T>
class CastException : public BaseException {
 public:
  explicit CastException(std::string foundType) : found_(std::move(foundType)) {}
  void print(std::ostream& out = std::cerr) override {
    out << "Cast error: Trying to cast ObjectRef (" << found_ << ") into " << typeid(T).name()
        << std::endl;
  }
  const std::string& foundType() const { return found_; }

 private:
  std::string found_;
};

}  // namespace FD
