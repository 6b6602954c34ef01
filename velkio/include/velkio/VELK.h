// A transfer-function file: reading, writing and access to its chunks.
//
// The on-disk layout is described in velkio/FORMAT.md. The reader trusts nothing: every size and
// count is checked against the bytes that remain before anything is allocated, and any
// truncated, oversized or inconsistent content raises velkio::FileError naming the file and the
// fault. Beyond the layout it checks that the file is a table the localiser and the separators
// can use (a format and version it reads, the format's chunk with responses for two ears,
// directions on a whole-degree grid), so that a file that reads is a file that loads. Chunks with
// unknown identifiers are skipped. The writer refuses content the reader would reject, so
// whatever it writes reads back unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "velkio/Chunk.h"
#include "velkio/Error.h"
#include "velkio/Export.h"

namespace velkio {

// A chunk the reader did not understand and left out of the chunk list.
struct VELKIO_API SkippedChunk {
  std::string id;           // printable form of the four identifier bytes
  std::uint32_t size = 0;   // body size in bytes
  std::uint64_t offset = 0; // byte offset of the chunk header in the file
};

class VELKIO_API VELK {
 public:
  VELK() = default;
  virtual ~VELK() = default;

  // Replaces the content with the file at `path`. On failure throws FileError (also recorded in
  // Error::getInstance()) and leaves the object as it was.
  void readFile(const std::string& path);
  // Same as readFile for bytes already in memory; `name` stands for the file in messages.
  void readBuffer(const void* data, std::size_t size, const std::string& name);

  // Writes the content to `path`: through a temporary file beside it, renamed into place, so that
  // an existing file is never left half-written; a device or a FIFO is written directly, and a
  // folder, a link to nothing or a file this process is reading is refused
  // (fileio::OutputFile). Throws FileError when the content is not writable as a valid file or
  // the destination or the file system refuses.
  void writeFile(const std::string& path) const;
  // The file image of the content. Throws FileError like writeFile.
  std::vector<std::uint8_t> toBytes() const;

  // The chunks of a list; "" names the file's own chunks, in file order. Other names hold no
  // chunks in this format and give an empty list.
  virtual const ChunkList& getChunkList(const std::string& listName) const;
  // Appends a chunk to the file's list.
  void addChunk(ChunkPtr chunk);
  void clear();

  // The chunks skipped by the last successful read.
  const std::vector<SkippedChunk>& getSkippedChunks() const { return skipped_; }

  // The first chunk of the file's list whose identifier is T's, converted to T; null when there
  // is none or that chunk is not a T.
  template <class T>
  std::shared_ptr<T> findFirst() const {
    for (const ChunkPtr& chunk : getChunkList(""))
      if (chunk && chunk->getChunkId() == T::getIdentifier())
        return std::dynamic_pointer_cast<T>(chunk);
    return nullptr;
  }

 private:
  ChunkList chunks_;
  std::vector<SkippedChunk> skipped_;
};

}  // namespace velkio
