#include "sealing/aes_cbc.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "key/key.h"
#include "sealing/aes.h"
#include "sealing/aes_engines.h"
#include "sealing/codecs.h"
#include "sealing/wipe.h"

namespace plusaes {
namespace detail {

namespace {

const unsigned char* block_at(const unsigned char* base, std::uint64_t block) {
    return base + static_cast<std::size_t>(16 * block);
}

unsigned char* block_at(unsigned char* base, std::uint64_t block) {
    return base + static_cast<std::size_t>(16 * block);
}

// Chosen when the library is loaded. A schedule made before then, by another
// library's initialiser, reads zero, the portable engine, which gives the same
// bytes.
const Engine kSelectedEngine = hardware_supported() ? Engine::hardware : Engine::portable;

}  // namespace

bool engine_available(Engine engine) {
    return engine == Engine::portable || kSelectedEngine == Engine::hardware;
}

Engine selected_engine() {
    return kSelectedEngine;
}

const char* engine_name(Engine engine) {
    return engine == Engine::portable ? "portable (bitsliced)" : hardware_name();
}

KeySchedule::KeySchedule(const unsigned char* key, int key_size, Engine engine)
    : engine_(engine_available(engine) ? engine : Engine::portable),
      key_size_(key_size),
      rounds_(get_round_count(key_size)) {
    State round_keys[kMaxRoundKeys];
    expand_key_into(key, key_size, round_keys);
    if (engine_ == Engine::hardware) {
        hardware_prepare(round_keys, rounds_, keys_.blocks);
    } else {
        portable_prepare(round_keys, rounds_, keys_.planes);
    }
    Pelmora::sealing::secure_wipe(round_keys, sizeof round_keys);
}

KeySchedule::~KeySchedule() {
    Pelmora::sealing::secure_wipe(&keys_, sizeof keys_);
}

void KeySchedule::encrypt_block(const unsigned char* in, unsigned char* out) const {
    if (engine_ == Engine::hardware) {
        hardware_encrypt(keys_.blocks, rounds_, in, out);
    } else {
        portable_encrypt(keys_.planes, rounds_, in, out);
    }
}

void KeySchedule::decrypt_block(const unsigned char* in, unsigned char* out) const {
    if (engine_ == Engine::hardware) {
        hardware_decrypt(keys_.blocks, rounds_, in, out);
    } else {
        portable_decrypt(keys_.planes, rounds_, in, out);
    }
}

int check_encrypt_cond(std::uint64_t data_size, std::uint64_t key_size, std::uint64_t encrypted_size,
                       bool pads) {
    if (!pads && data_size % 16 != 0) {
        return status_bad_data_size;
    }
    if (!is_valid_key_size(key_size)) {
        return status_bad_key_size;
    }
    const std::uint64_t needed = pads ? get_padded_encrypted_size(data_size) : data_size;
    if (encrypted_size < needed) {
        return status_bad_buffer_size;
    }
    return status_ok;
}

int check_decrypt_cond(std::uint64_t data_size, std::uint64_t key_size, std::uint64_t decrypted_size,
                       const std::uint64_t* pad_count) {
    if (data_size % 16 != 0) {
        return status_bad_data_size;
    }
    if (!is_valid_key_size(key_size)) {
        return status_bad_key_size;
    }
    // Padded: room for the shortest possible plaintext (a last block of pure
    // padding). The subtraction wraps for an empty input, which therefore fails.
    const std::uint64_t needed = pad_count != nullptr ? data_size - 16 : data_size;
    if (decrypted_size < needed) {
        return status_bad_buffer_size;
    }
    return status_ok;
}

bool check_padding(std::uint64_t pad_count, const unsigned char* last_block) {
    if (pad_count < 1 || pad_count > 16) {
        return false;
    }
    for (std::uint64_t i = 16 - pad_count; i < 16; ++i) {
        if (last_block[i] != pad_count) {
            return false;
        }
    }
    return true;
}

}  // namespace detail

std::uint64_t get_padded_encrypted_size(std::uint64_t data_size) {
    return data_size - data_size % 16 + 16;
}

namespace detail {

int encrypt_cbc(const KeySchedule& keys, const unsigned char* data, std::uint64_t data_size,
                const unsigned char (*iv)[16], unsigned char* encrypted, std::uint64_t encrypted_size, bool pads) {
    const int status = check_encrypt_cond(data_size, static_cast<std::uint64_t>(keys.key_size()), encrypted_size, pads);
    if (status != status_ok) {
        return status;
    }
    if (data_size == 0 && !pads) {
        return status_ok;
    }
    const std::uint64_t whole_blocks = data_size / 16;
    const std::size_t remainder = static_cast<std::size_t>(data_size % 16);
    const unsigned char pad = static_cast<unsigned char>(16 - remainder);

    unsigned char block[16];
    if (data_size >= 16) {
        std::copy_n(data, 16, block);
    } else {
        std::fill_n(block, 16, pad);
        std::copy_n(data, remainder, block);
    }
    if (iv != nullptr) {
        xor_data(block, *iv);
    }
    keys.encrypt_block(block, encrypted);

    for (std::uint64_t i = 1; i < whole_blocks; ++i) {
        std::copy_n(block_at(data, i), 16, block);
        xor_data(block, block_at(encrypted, i - 1));
        keys.encrypt_block(block, block_at(encrypted, i));
    }

    if (pads && data_size >= 16) {
        std::fill_n(block, 16, pad);
        std::copy_n(block_at(data, whole_blocks), remainder, block);
        xor_data(block, block_at(encrypted, whole_blocks - 1));
        keys.encrypt_block(block, block_at(encrypted, whole_blocks));
    }
    return status_ok;
}

int decrypt_cbc(const KeySchedule& keys, const unsigned char* data, std::uint64_t data_size,
                const unsigned char (*iv)[16], unsigned char* decrypted, std::uint64_t decrypted_size,
                std::uint64_t* pad_count) {
    const int status = check_decrypt_cond(data_size, static_cast<std::uint64_t>(keys.key_size()), decrypted_size,
                                          pad_count);
    if (status != status_ok) {
        return status;
    }
    if (data_size == 0) {
        // Only reachable without a pad count: nothing to decrypt.
        return status_ok;
    }
    const std::uint64_t blocks = data_size / 16;

    for (std::uint64_t i = 0; i + 1 < blocks; ++i) {
        unsigned char* out = block_at(decrypted, i);
        keys.decrypt_block(block_at(data, i), out);
        if (i > 0) {
            xor_data(out, block_at(data, i - 1));
        } else if (iv != nullptr) {
            xor_data(out, *iv);
        }
    }

    unsigned char last[16];
    keys.decrypt_block(block_at(data, blocks - 1), last);
    if (blocks > 1) {
        xor_data(last, block_at(data, blocks - 2));
    } else {
        if (iv != nullptr) {
            xor_data(last, *iv);
        }
        std::fill_n(decrypted, static_cast<std::size_t>(decrypted_size), static_cast<unsigned char>(0));
    }

    unsigned char* last_out = block_at(decrypted, blocks - 1);
    if (pad_count == nullptr) {
        std::copy_n(last, 16, last_out);
        return status_ok;
    }
    const std::uint64_t pad = last[15];
    *pad_count = pad;
    if (!check_padding(pad, last)) {
        return status_bad_padding;
    }
    if (decrypted_size < data_size - pad) {
        return status_bad_buffer_size;
    }
    std::copy_n(last, static_cast<std::size_t>(16 - pad), last_out);
    return status_ok;
}

}  // namespace detail

// The argument checks come before the key is expanded: a bad key size is a
// status, not the schedule's exception.
int encrypt_cbc(const unsigned char* data, std::uint64_t data_size, const unsigned char* key,
                std::uint64_t key_size, const unsigned char (*iv)[16], unsigned char* encrypted,
                std::uint64_t encrypted_size, bool pads) {
    const int status = detail::check_encrypt_cond(data_size, key_size, encrypted_size, pads);
    if (status != status_ok) {
        return status;
    }
    const detail::KeySchedule keys(key, static_cast<int>(key_size));
    return detail::encrypt_cbc(keys, data, data_size, iv, encrypted, encrypted_size, pads);
}

int decrypt_cbc(const unsigned char* data, std::uint64_t data_size, const unsigned char* key,
                std::uint64_t key_size, const unsigned char (*iv)[16], unsigned char* decrypted,
                std::uint64_t decrypted_size, std::uint64_t* pad_count) {
    const int status = detail::check_decrypt_cond(data_size, key_size, decrypted_size, pad_count);
    if (status != status_ok) {
        return status;
    }
    const detail::KeySchedule keys(key, static_cast<int>(key_size));
    return detail::decrypt_cbc(keys, data, data_size, iv, decrypted, decrypted_size, pad_count);
}

}  // namespace plusaes

namespace Pelmora {

namespace {

constexpr std::size_t kIvSize = 16;

}  // namespace

AES_CBC::AES_CBC(const std::string& codec_key, sealing::RandomRequest random)
    : key_bytes(sealing::hex_decode(codec_key)), random_request_(random) {
    if (!plusaes::detail::is_valid_key_size(key_bytes.size())) {
        throw std::runtime_error("Invalid key size. Must be 16, 24, or 32 bytes. " +
                                 key_size_note(codec_key, key_bytes.size()));
    }
    keys_ = std::make_unique<plusaes::detail::KeySchedule>(key_bytes.data(), static_cast<int>(key_bytes.size()));
}

AES_CBC::~AES_CBC() = default;

void AES_CBC::init_iv() {
    // Every byte comes from the kernel itself. An engine seeded with one 32-bit
    // draw could produce only 2^32 IVs, and two seals would share an IV after
    // some tens of thousands of calls.
    if (!random_) {
        random_ = std::make_unique<sealing::RandomBytes>(random_request_);
    }
    iv_bytes.assign(kIvSize, 0);
    random_->take(iv_bytes.data(), kIvSize);
}

std::string AES_CBC::encrypt(const std::string& plaintext) {
    if (!deflater_) {
        deflater_ = std::make_unique<Deflater>();
    }
    const std::vector<unsigned char> stream = deflater_->compress(plaintext);
    init_iv();
    unsigned char iv[kIvSize];
    std::copy_n(iv_bytes.begin(), kIvSize, iv);

    std::vector<unsigned char> ciphertext(plusaes::get_padded_encrypted_size(stream.size()), 0);
    const int status =
        plusaes::detail::encrypt_cbc(*keys_, stream.data(), stream.size(), &iv, ciphertext.data(), ciphertext.size(), true);
    if (status != plusaes::status_ok) {
        throw std::runtime_error("Encryption failed.");
    }
    return sealing::base64_encode(iv_bytes) + ":" + sealing::base64_encode(ciphertext);
}

std::string AES_CBC::decrypt(const std::string& sealed) {
    const std::size_t separator = sealed.find(':');
    iv_bytes = sealing::base64_decode(sealed.substr(0, separator));
    // Without a separator there is no ciphertext part, whatever the text decodes to.
    if (separator == std::string::npos || iv_bytes.size() != kIvSize) {
        throw std::runtime_error("Decryption failed.");
    }
    const std::vector<unsigned char> ciphertext = sealing::base64_decode(sealed.substr(separator + 1));
    unsigned char iv[kIvSize];
    std::copy_n(iv_bytes.begin(), kIvSize, iv);

    // The zero fill matters: the pad bytes are not written, so the stream is
    // followed by zeros, which the decompression ignores.
    std::vector<unsigned char> plain(ciphertext.size(), 0);
    std::uint64_t pad_count = 0;
    const int status = plusaes::detail::decrypt_cbc(*keys_, ciphertext.data(), ciphertext.size(), &iv, plain.data(),
                                                    plain.size(), &pad_count);
    if (status != plusaes::status_ok) {
        throw std::runtime_error("Decryption failed.");
    }
    if (!inflater_) {
        inflater_ = std::make_unique<Inflater>();
    }
    return inflater_->decompress(plain);
}

}  // namespace Pelmora
