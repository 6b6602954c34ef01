// What makes a transfer-function file a table the localiser and the separators can use, beyond
// being well formed: a format chunk of a version and format this library reads, with a plausible
// sampling rate and transform length; the chunk of that format, holding responses for two ears or
// more; and directions on a whole-degree grid inside -180 .. 180 degrees. The reader applies it to
// every file it reads and the writer to every file it writes, so that a file that reads is a file
// that loads. Internal to the file library.
#pragma once

#include <string>
#include <vector>

#include "velkio/Chunk.h"

namespace velkio {

// Checks `chunks` (the first chunk of each kind counts, as users take it). `places[i]` names
// chunk i in messages ("chunk \"M2PG\" at byte 36"). Throws FileError "NAME: PLACE: FAULT",
// naming the field at fault and what it should be.
void checkTable(const ChunkList& chunks, const std::vector<std::string>& places, const std::string& name);

}  // namespace velkio
