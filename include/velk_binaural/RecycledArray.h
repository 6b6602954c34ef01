// Arrays of a frame's length that are given back are kept for the next frame.
//
// Every frame makes and drops the same few arrays of one spectrum's length (two ears' spectra,
// levels, phase and level differences): each is over a kilobyte, beyond the allocator's fast
// per-thread cache, and taking them from the general heap cost a fifth of a localiser frame.
// A small per-thread store of released arrays, matched by length, serves them again instead.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace NSVelkBinaural {

template <class T>
class RecycledArray {
 public:
  // An array of n elements; a reused one holds whatever it held before.
  static T* Take(size_t n) {
    std::vector<Entry>& store = Store().entries;
    for (size_t k = store.size(); k-- > 0;) {
      if (store[k].first != n) continue;
      T* array = store[k].second;
      store.erase(store.begin() + static_cast<std::ptrdiff_t>(k));
      return array;
    }
    return new T[n];
  }

  // Gives back an array made by Take(n); null is ignored.
  static void Give(T* array, size_t n) {
    if (!array) return;
    std::vector<Entry>& store = Store().entries;
    if (store.size() >= kCapacity) {
      delete[] array;
      return;
    }
    store.emplace_back(n, array);
  }

 private:
  using Entry = std::pair<size_t, T*>;
  static constexpr size_t kCapacity = 32;

  struct PerThread {
    PerThread() { entries.reserve(kCapacity); }
    ~PerThread() {
      for (Entry& e : entries) delete[] e.second;
    }
    std::vector<Entry> entries;
  };

  static PerThread& Store() {
    thread_local PerThread store;
    return store;
  }
};

}  // namespace NSVelkBinaural
