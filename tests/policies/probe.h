// The inline code of each rounding policy, compiled once per policy into one
// executable: what a binary that met both variants would hold.
#pragma once

namespace policy_probe {

double fused_mul_add(double x, double y, double z);
double separate_mul_add(double x, double y, double z);
// The third draw of Random(0) in the rotation range.
double fused_third_angle();
double separate_third_angle();

}  // namespace policy_probe
