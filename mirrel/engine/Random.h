#pragma once

#include "common/dsp/XorShift32.h"

namespace mr
{
// Mirrel's random generator: the shared xorshift (13, 17, 5).
using Random = sv::XorShift32;
} // namespace mr
