#include "RespirationModel.h"

#include <cmath>
#include <numbers>

namespace vitalon::sim {

bool RespirationModel::step(double dt) {
    phase_ += dt * rate_ / 60.0;
    if (phase_ < 1.0) {
        return false;
    }
    phase_ -= std::floor(phase_);
    return true;
}

double RespirationModel::shape(double phase) {
    constexpr double kPi = std::numbers::pi;
    if (phase < kInspirationShare) {
        return -0.5 * std::cos(kPi * phase / kInspirationShare);
    }
    return 0.5 * std::cos(kPi * (phase - kInspirationShare) / (1.0 - kInspirationShare));
}

}  // namespace vitalon::sim
