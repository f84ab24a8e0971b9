#include "records/session.h"

#include <cmath>

#include "transform/utils.h"

namespace Pelmora {

namespace {

const std::string& decoding_key(const Pelmo& codec) {
    require_decoding_dimension(codec.dim());
    return codec.key();
}

}  // namespace

RecordEncoder::RecordEncoder(const Pelmo& codec)
    : codec_(codec),
      seeds_(transform_seeds(codec.key(), codec.dim())),
      cipher_(codec.key()),
      noise_field_(parse_key_field(codec.key(), 0)) {
    require_metric(codec.space());
}

void RecordEncoder::transform(Vector& v) {
    const Profile& profile = codec_.profile();
    if (!matrix_) {
        matrix_ = BlockMatrix::from_seeds(seeds_, codec_.dim(), profile);
        if (profile.noise_enabled) {
            noise_ = noise_vector(noise_field_, profile, codec_.dim());
        }
    }
    if (noise_) {
        blend(v, *noise_);
    }
    matrix_->apply(v);
}

RecordDecoder::RecordDecoder(const Pelmo& codec)
    : codec_(codec),
      seeds_(transform_seeds(codec.key(), codec.dim())),
      cipher_(decoding_key(codec)) {
    if (codec.profile().noise_enabled) {
        noise_field_ = parse_key_field(codec.key(), 0);
    }
    require_metric(codec.space());
}

void RecordDecoder::transform(Vector& v) {
    const Profile& profile = codec_.profile();
    if (!inverse_) {
        inverse_.emplace(seeds_, codec_.dim(), profile);
        if (profile.noise_enabled) {
            noise_ = noise_vector(noise_field_, profile, codec_.dim());
        }
    }
    inverse_->apply(v);
    if (noise_) {
        remove_noise(v, *noise_);
    }
}

double RecordDecoder::score(const Vector& query, const Vector& v) const {
    return Utils::calculate_similarity(query, v, codec_.space());
}

bool RecordDecoder::descending() const { return codec_.space() == "COSINE" || codec_.space() == "INNER_PRODUCT"; }

bool ranks_before(double a, double b, bool descending) {
    if (std::isnan(a)) {
        return false;
    }
    if (std::isnan(b)) {
        return true;
    }
    return descending ? a > b : a < b;
}

}  // namespace Pelmora
