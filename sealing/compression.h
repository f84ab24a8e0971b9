// Compressor and decompressor states that serve many texts. Setting up and
// freeing zlib's state costs more than compressing a short text, so a cipher
// object keeps one of each for all the records of a call. Their results are
// those of Utils::pel_compress and Utils::pel_decompress, byte for byte and
// message for message.
#pragma once

#include <string>
#include <vector>

#include <zlib.h>

namespace Pelmora {

class Deflater {
public:
    Deflater();
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    std::vector<unsigned char> compress(const std::string& text);

private:
    z_stream stream_;
};

class Inflater {
public:
    Inflater();
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    std::string decompress(const std::vector<unsigned char>& bytes);

private:
    z_stream stream_;
};

}  // namespace Pelmora
