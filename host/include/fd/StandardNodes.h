// The host's own nodes: audio files in and out, short-time spectra and their inverse, and the
// recording of source lists. The registry registers them itself on its first use, before any
// plug-in's nodes; a plug-in that registers one of these names replaces the host's node.
//
//   AudioFileSource     audio file -> frames ("AUDIO")
//   MultiFFT            frames -> spectra
//   Synthesize          spectra -> time signal
//   SaveWave            time signal -> WAV file
//   SaveSeparatedWaves  separated spectra per source id -> one WAV file per id
//   SourceRecorder      source lists -> JSON lines
#pragma once

#include "fd/Export.h"

namespace FD {

// Adds the factories of the standard nodes to the registry. Called once by the registry.
FD_API void registerStandardNodes();

}  // namespace FD
