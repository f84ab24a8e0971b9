// Built twice, with PELMO_FUSED 1 and 0, and without optimisation, so that
// every inline function is emitted out of line as a copy the linker may merge.
#include "probe.h"

#include "transform/random.h"
#include "transform/rounding.h"

#if PELMO_FUSED
#define PROBE(name) fused_##name
#else
#define PROBE(name) separate_##name
#endif

namespace policy_probe {

double PROBE(mul_add)(double x, double y, double z) { return Pelmora::rounding::mul_add(x, y, z); }

double PROBE(third_angle)() {
    Pelmora::Random generator(0);
    generator.range(-1.5707963267948966, 1.5707963267948966);
    generator.range(-1.5707963267948966, 1.5707963267948966);
    return generator.range(-1.5707963267948966, 1.5707963267948966);
}

}  // namespace policy_probe
