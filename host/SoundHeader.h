// The sample count a sound file's header announces, read from the header itself. libsndfile
// quietly shortens the count of a WAV or AIFF file that was cut off to what the file still holds;
// comparing the two is how a cut file is noticed. Internal to the host.
#pragma once

#include <string>

namespace FD {

// Samples per channel announced by the header of a WAV (RIFF or RIFX) or AIFF file; -1 for
// other formats, for headers that leave the length open (streamed WAV, RF64) and for headers that
// cannot be read.
long announcedSampleCount(const std::string& path);

}  // namespace FD
