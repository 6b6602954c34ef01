#include "fd/Buffer.h"

#include <algorithm>

namespace FD {

Buffer::Buffer(int capacity) : slots_(static_cast<size_t>(std::max(capacity, 1))) {}

bool Buffer::holds(int index) const {
  return index >= 0 && index <= newest_ && index > newest_ - capacity();
}

ObjectRef& Buffer::operator[](int index) {
  if (index < 0 || (index <= newest_ && !holds(index)))
    throw new BufferException("trying to write to non-existing element", this, index);
  if (index > newest_) {
    // Advance the ring; the slots skipped over (and the one reused) start empty.
    int first = std::max(newest_ + 1, index - capacity() + 1);
    for (int i = first; i <= index; ++i) slots_[i % capacity()] = Slot{};
    newest_ = index;
  }
  Slot& slot = slots_[index % capacity()];
  slot.written = true;
  return slot.value;
}

bool Buffer::isValid(int index) const { return holds(index) && slots_[index % capacity()].written; }

ObjectRef Buffer::get(int index) const {
  return isValid(index) ? slots_[index % capacity()].value : ObjectRef();
}

void Buffer::reserve(int capacity) {
  if (capacity <= this->capacity()) return;
  std::vector<Slot> grown(static_cast<size_t>(capacity));
  for (int i = std::max(0, newest_ - this->capacity() + 1); i <= newest_; ++i)
    grown[i % capacity] = slots_[i % this->capacity()];
  slots_.swap(grown);
}

void Buffer::clear() {
  for (Slot& s : slots_) s = Slot{};
  newest_ = -1;
}

}  // namespace FD
