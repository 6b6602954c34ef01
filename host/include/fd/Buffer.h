// A node output's ring of recent frames.
//
// Element `count` is written by the node that computes frame `count`. Storing past the newest
// index advances the ring and marks the skipped slots empty; storing at an index the ring no
// longer holds (or a negative one) raises BufferException.
#pragma once

#include <vector>

#include "fd/Export.h"
#include "fd/Object.h"

namespace FD {

class FD_API Buffer : public Object {
 public:
  explicit Buffer(int capacity);

  // Slot of frame `index` for writing.
  ObjectRef& operator[](int index);
  // Whether frame `index` is held and was written.
  bool isValid(int index) const;
  // The object of frame `index`; nil when not held or never written.
  ObjectRef get(int index) const;
  int capacity() const { return static_cast<int>(slots_.size()); }
  int newest() const { return newest_; }
  // Grows the ring (keeping what it holds) so that it keeps at least `capacity` frames.
  void reserve(int capacity);
  void clear();
  std::string className() const override { return "Buffer"; }

 private:
  bool holds(int index) const;
  struct Slot {
    ObjectRef value;
    bool written = false;
  };
  std::vector<Slot> slots_;
  int newest_ = -1;
};

}  // namespace FD
