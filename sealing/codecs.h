// The byte and text codecs of the sealed metadata text, without the linear
// algebra that the rest of Utils needs. Utils::pel_compress, ::pel_decompress,
// ::hex_decode, ::base64_encode and ::base64_decode are these functions.
#pragma once

#include <string>
#include <vector>

#include "sealing/wipe.h"

namespace Pelmora::sealing {

// One zlib stream (RFC 1950) of the text; "Compression failed with error: N".
std::vector<unsigned char> pel_compress(const std::string& text);
// The text of the zlib stream at the start of `bytes`; trailing bytes are
// ignored. "Decompression failed with error: N".
std::string pel_decompress(const std::vector<unsigned char>& bytes);

// Two hexadecimal digits per byte, a single last digit forming a byte of its
// own; each piece is read like a key field (key/key.h). Only the codec key is
// read this way, so a piece without a hexadecimal digit fails with
// std::invalid_argument naming the key's characters. The bytes are the cipher
// key's: wiped when their storage goes, the bytes decoded before a failing
// piece included.
SecretBytes hex_decode(const std::string& text);
// RFC 4648 base64 with padding.
std::string base64_encode(const std::vector<unsigned char>& bytes);
// Decodes the longest readable prefix of `text`; never fails.
std::vector<unsigned char> base64_decode(const std::string& text);

}  // namespace Pelmora::sealing
