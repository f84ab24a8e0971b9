#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "key/key.h"
#include "sealing/codecs.h"

namespace Pelmora::sealing {

SecretBytes hex_decode(const std::string& text) {
    SecretBytes bytes;
    bytes.reserve((text.size() + 1) / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        // Read like a key field: blanks, a sign and trailing junk within a piece
        // are accepted; keys were always read this way, so the leniency is part
        // of the format.
        const int value = parse_key_digits(text, i, 2);
        bytes.push_back(static_cast<unsigned char>(value & 0xFF));
    }
    return bytes;
}

std::string base64_encode(const std::vector<unsigned char>& bytes) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t size = bytes.size();
    std::string text;
    text.reserve((size + 2) / 3 * 4);

    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16 |
                                    static_cast<std::uint32_t>(bytes[i + 1]) << 8 | bytes[i + 2];
        text += alphabet[(group >> 18) & 0x3F];
        text += alphabet[(group >> 12) & 0x3F];
        text += alphabet[(group >> 6) & 0x3F];
        text += alphabet[group & 0x3F];
    }
    const std::size_t rest = size - i;
    if (rest > 0) {
        std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (rest == 2) {
            group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        }
        text += alphabet[(group >> 18) & 0x3F];
        text += alphabet[(group >> 12) & 0x3F];
        text += rest == 2 ? alphabet[(group >> 6) & 0x3F] : '=';
        text += '=';
    }
    return text;
}

std::vector<unsigned char> base64_decode(const std::string& text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<unsigned char> bytes;
    bytes.reserve(text.size() / 4 * 3 + 2);

    std::uint32_t group = 0;
    int count = 0;
    for (const char c : text) {
        const std::size_t value = c == '=' ? std::string::npos : alphabet.find(c);
        if (value == std::string::npos) {
            break;
        }
        group = group << 6 | static_cast<std::uint32_t>(value);
        if (++count == 4) {
            bytes.push_back(static_cast<unsigned char>(group >> 16));
            bytes.push_back(static_cast<unsigned char>(group >> 8));
            bytes.push_back(static_cast<unsigned char>(group));
            group = 0;
            count = 0;
        }
    }
    // Two or three values left give one or two bytes; their spare low bits are
    // dropped unchecked. One value alone carries no whole byte.
    if (count == 2) {
        bytes.push_back(static_cast<unsigned char>(group >> 4));
    } else if (count == 3) {
        bytes.push_back(static_cast<unsigned char>(group >> 10));
        bytes.push_back(static_cast<unsigned char>(group >> 2));
    }
    return bytes;
}

}  // namespace Pelmora::sealing
