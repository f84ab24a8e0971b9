// Static helpers of the codec. Each group is defined beside its users:
// the tridiagonal members in transform/, compression and the text codecs in
// sealing/, the similarity in records/.
#pragma once

#include <string>
#include <vector>

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

    // One zlib stream (RFC 1950) of the text; "Compression failed with error: N".
    static std::vector<unsigned char> pel_compress(const std::string& text);
    // The text of the zlib stream at the start of `bytes`; trailing bytes are
    // ignored. "Decompression failed with error: N".
    static std::string pel_decompress(const std::vector<unsigned char>& bytes);

    // Two hexadecimal digits per byte, a single last digit forming a byte of its
    // own; each piece is read by std::stoi in base 16. Only the codec key is
    // read this way, so a piece without a hexadecimal digit fails with
    // std::invalid_argument naming the key's characters.
    static std::vector<unsigned char> hex_decode(const std::string& text);
    // RFC 4648 base64 with padding.
    static std::string base64_encode(const std::vector<unsigned char>& bytes);
    // Decodes the longest readable prefix of `text`; never fails.
    static std::vector<unsigned char> base64_decode(const std::string& text);

    // Score of a against b under "COSINE", "L2" or "INNER_PRODUCT".
    static double calculate_similarity(const Vector& a, const Vector& b, const std::string& metric);
};

}  // namespace Pelmora
