// Sound from an ALSA capture device, as a SampleStream. Internal to the host.
#pragma once

#include <memory>
#include <string>

#include "fd/AudioStream.h"

namespace FD {

// Opens capture device `device` ("default", "hw:1,0", "plughw:1", ...) for `channels` interleaved
// channels at `sampleRate` Hz, in 16-bit samples or, where the device offers only those, 32-bit
// or float ones, and starts it. Reads wait for the device together with FD::stopDescriptor(); a
// stop request ends the stream. Throws std::runtime_error naming the device and what it refused.
std::unique_ptr<SampleStream> openCaptureDevice(const std::string& device, int sampleRate, int channels);

}  // namespace FD
