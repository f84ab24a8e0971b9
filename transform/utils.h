// Static helpers of the codec. Each group is defined beside its users:
// the tridiagonal members in transform/, compression and the text codecs in
// sealing/ (which needs no Eigen, so it has its own face, sealing/codecs.h),
// the similarity in records/.
#pragma once

#include <string>
#include <vector>

#include "sealing/codecs.h"
#include "transform/eigen.h"

namespace Pelmora {

class Utils {
public:
    // Solves one tridiagonal system by the Thomas algorithm (no pivoting):
    // lower[i-1], diag[i], upper[i] are the coefficients of row i at columns
    // i-1, i, i+1. The order n is rhs.size(); solution must already hold n
    // entries and keeps the ones after them. Throws std::invalid_argument when a
    // list is too short for n.
    static void transformAlgorithm(const std::vector<double>& lower, const std::vector<double>& diag,
                                   const std::vector<double>& upper, const std::vector<double>& rhs,
                                   std::vector<double>& solution);

    // Inverse of the tridiagonal matrix formed by the three central diagonals of
    // `matrix` (order at least 2, else std::invalid_argument), column by column.
    // Entries that come out exactly zero are not stored.
    static SparseMatrix invertMatrix(const SparseMatrix& matrix);

    // The codecs of the sealed metadata text (sealing/codecs.h), under the
    // names the rest of the codec knows them by.
    static std::vector<unsigned char> pel_compress(const std::string& text) { return sealing::pel_compress(text); }
    static std::string pel_decompress(const std::vector<unsigned char>& bytes) {
        return sealing::pel_decompress(bytes);
    }
    // A plain copy, for readers other than the cipher, which takes its key
    // bytes from sealing::hex_decode into storage that is wiped.
    static std::vector<unsigned char> hex_decode(const std::string& text) {
        const sealing::SecretBytes bytes = sealing::hex_decode(text);
        return {bytes.begin(), bytes.end()};
    }
    static std::string base64_encode(const std::vector<unsigned char>& bytes) { return sealing::base64_encode(bytes); }
    static std::vector<unsigned char> base64_decode(const std::string& text) { return sealing::base64_decode(text); }

    // Score of a against b under "COSINE", "L2" or "INNER_PRODUCT".
    static double calculate_similarity(const Vector& a, const Vector& b, const std::string& metric);
};

}  // namespace Pelmora
