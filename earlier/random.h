// The generator of the earlier codec: the same generator as libpel_arm64's,
// declared in the global namespace. Its rounding follows the PELMO_FUSED policy
// of the library it is built into.
#pragma once

#include "transform/random.h"

using Random = Pelmora::Random;
