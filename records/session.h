// The working set of one record-set call, shared by all its records: the
// cipher object, the transform (or its inverse) and the noise vector.
//
// Construction runs every check that comes before the first record, in the
// order hosts see their failures; it builds nothing that grows with the
// dimension. The matrix, its inverse and the noise vector are built when the
// first record needs them, so an empty record set costs the same at any
// dimension.
#pragma once

#include <optional>
#include <string>

#include "records/records.h"
#include "sealing/aes_cbc.h"
#include "transform/blocks.h"
#include "transform/pelmo.h"

namespace Pelmora {

class RecordEncoder {
public:
    // Key fields 1 to 3 and the dimension, the cipher key, key field 0, the
    // metric name: each fails with its own message, in this order.
    explicit RecordEncoder(const Pelmo& codec);

    // The sealed metadata text of `text` under a fresh IV.
    std::string seal(const std::string& text) { return cipher_.encrypt(text); }

    // Blends v with the noise and multiplies it by the matrix. v must have
    // `dim` components.
    void transform(Vector& v);

private:
    const Pelmo& codec_;
    TransformSeeds seeds_;
    AES_CBC cipher_;
    int noise_field_;
    std::optional<BlockMatrix> matrix_;
    std::optional<Vector> noise_;
};

class RecordDecoder {
public:
    // Key fields 1 to 3 and the dimension, the dimension decoding needs, the
    // cipher key, key field 0 (when noise is on), the metric name.
    explicit RecordDecoder(const Pelmo& codec);

    // Multiplies v by the inverse and removes the noise. v must have `dim`
    // components.
    void transform(Vector& v);

    // The similarity of the decoded vector v to the query.
    double score(const Vector& query, const Vector& v) const;

    // The plaintext of a sealed metadata text.
    std::string open(const std::string& sealed) { return cipher_.decrypt(sealed); }

    // Highest similarity first ("COSINE", "INNER_PRODUCT") or lowest ("L2").
    bool descending() const;

private:
    const Pelmo& codec_;
    TransformSeeds seeds_;
    AES_CBC cipher_;
    int noise_field_ = 0;
    std::optional<InverseTransform> inverse_;
    std::optional<Vector> noise_;
};

// Numbers in the metric's direction, then every NaN. The plain comparison of
// similarities is no strict weak order once NaN and numbers mix, which a sort
// needs; here all NaNs form one class behind every number. -0.0 and +0.0 tie.
bool ranks_before(double a, double b, bool descending);

}  // namespace Pelmora
