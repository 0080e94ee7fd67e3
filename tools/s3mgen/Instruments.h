// The synthesised instruments of our music. Every pitched sample holds exactly 32 samples
// per cycle at 8372 Hz, so note C-4 sounds at middle C (261.6 Hz) and every loop spans
// whole cycles of every partial: loops never click.
#pragma once

#include "S3mModule.h"

namespace instruments
{

s3m::Sample Pad();   // detuned saw-like ensemble, one-second swell, then a seamless loop
s3m::Sample Bass();  // round sine bass with a soft pluck, sustained by a loop
s3m::Sample Bell();  // mellow FM electric-piano tone that decays in 1.5 s (the lead)
s3m::Sample Pluck(); // short harp-like pluck for arpeggios
s3m::Sample Kick();  // pitched-down sine thump
s3m::Sample Snare(); // soft body and band-limited noise
s3m::Sample Hat();   // quiet, low-passed noise tick

} // namespace instruments
