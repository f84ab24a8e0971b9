#include "key/key.h"

#include <stdexcept>
#include <string>

namespace Pelmora {

namespace {

std::string count_of(std::size_t n, const char* singular, const char* plural) {
    return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

}  // namespace

std::string quoted(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (byte < 0x20 || byte >= 0x7F) {
            // Bytes of a UTF-8 character too: a field may cut one in half.
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

int parse_key_field(const std::string& key, int field) {
    const auto first = static_cast<std::size_t>(4 * field);
    if (first >= key.size()) {
        // The field has nothing to read: the key is too short, whatever it holds.
        const std::string message =
            "The key has " + count_of(key.size(), "character", "characters") + "; the codec reads the first 16.";
        if (first > key.size()) {
            throw std::out_of_range(message);
        }
        throw std::invalid_argument(message);
    }
    return parse_key_digits(key, first, 4);
}

int parse_key_digits(const std::string& key, std::size_t first, std::size_t count) {
    const std::string piece = key.substr(first, count);
    try {
        return std::stoi(piece, nullptr, 16);
    } catch (const std::invalid_argument&) {
        const std::size_t last = first + piece.size() - 1;
        const std::string where = last == first
                                      ? "character " + std::to_string(first) + " (" + quoted(piece) + ") is"
                                      : "characters " + std::to_string(first) + " to " + std::to_string(last) +
                                            " (" + quoted(piece) + ") are";
        throw std::invalid_argument("The key's " + where + " not hexadecimal.");
    }
}

std::string key_size_note(const std::string& key, std::size_t bytes) {
    return "The key has " + count_of(key.size(), "character", "characters") + " (" +
           count_of(bytes, "byte", "bytes") + "); use 32, 48 or 64 hexadecimal digits.";
}

}  // namespace Pelmora
