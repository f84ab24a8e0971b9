#include <limits>
#include <stdexcept>
#include <string>

#include "key/key.h"
#include "records/records.h"
#include "transform/utils.h"

namespace Pelmora {

double Utils::calculate_similarity(const Vector& a, const Vector& b, const std::string& metric) {
    if (a.size() != b.size()) {
        throw std::runtime_error("Vector dimensions must match for similarity calculation.");
    }
    if (metric == "COSINE") {
        const double d = a.dot(b);
        const double na = a.norm();
        const double nb = b.norm();
        if (na == 0.0 || nb == 0.0) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        return d / (na * nb);
    }
    if (metric == "L2") {
        return (a - b).norm();
    }
    if (metric == "INNER_PRODUCT") {
        return a.dot(b);
    }
    fail_invalid_metric(metric);
}

void fail_invalid_metric(const std::string& space) {
    throw std::runtime_error("Invalid similarity metric. The metric name given is " + quoted(space) +
                             "; the names are \"COSINE\", \"L2\" and \"INNER_PRODUCT\".");
}

void require_metric(const std::string& space) {
    if (space != "COSINE" && space != "L2" && space != "INNER_PRODUCT") {
        fail_invalid_metric(space);
    }
}

}  // namespace Pelmora
