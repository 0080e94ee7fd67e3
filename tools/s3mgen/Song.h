// "Windwalker", the demo's background music: a calm A-minor piece of about 80 seconds
// that loops seamlessly.
#pragma once

#include "S3mModule.h"

namespace song
{

s3m::Module Compose();

} // namespace song
