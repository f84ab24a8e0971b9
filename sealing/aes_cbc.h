// Cipher object that seals a record's metadata text and opens it again.
//
// Sealed text: base64(IV) ":" base64(ciphertext), on one line. The IV part is
// always 24 characters ending in "=="; the ciphertext is AES-CBC with PKCS#7
// padding, under the key and a fresh IV, of the zlib stream of the plaintext.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sealing/aes.h"
#include "sealing/compression.h"
#include "sealing/random_source.h"
#include "sealing/wipe.h"

namespace Pelmora {

class AES_CBC {
public:
    // The codec key read as hexadecimal digit pairs (a single last digit is a
    // byte of its own). std::invalid_argument for a pair without a readable
    // digit; std::runtime_error "Invalid key size. Must be 16, 24, or 32 bytes."
    // followed by the key's digit and byte counts unless the pairs give 16, 24
    // or 32 bytes.
    // The IVs come from `random`, the kernel unless a test says otherwise.
    explicit AES_CBC(const std::string& codec_key,
                     sealing::RandomRequest random = sealing::kernel_random_request);
    // Wipes the key bytes and the key schedule.
    ~AES_CBC();

    // Compresses, encrypts under a fresh IV, armours. Failures are
    // std::runtime_error ("Compression failed with error: N", "Encryption
    // failed.") and RandomSourceError when the system gives no random bytes.
    std::string encrypt(const std::string& plaintext);

    // Reverses encrypt. std::runtime_error "Decryption failed." for a text
    // without ":", an IV part that is not 16 bytes, a ciphertext that is not
    // whole blocks or has no valid padding; "Decompression failed with error: N"
    // when the decrypted bytes are not a zlib stream.
    std::string decrypt(const std::string& sealed);

    // Fills iv_bytes with 16 bytes from the kernel (sealing/random_source.h);
    // RandomSourceError when it gives none.
    void init_iv();

    // Wiped whenever its storage is given back.
    sealing::SecretBytes key_bytes;
    // IV of the last encrypt, or what the last decrypt read from its IV part.
    std::vector<unsigned char> iv_bytes;

private:
    // Expanded once, by the constructor: one object seals every record of a call.
    std::unique_ptr<plusaes::detail::KeySchedule> keys_;
    sealing::RandomRequest random_request_;
    // Made on first use and kept for the object's life: one object serves all
    // the records of a call, and these cost more to set up than to use.
    std::unique_ptr<sealing::RandomBytes> random_;
    std::unique_ptr<Deflater> deflater_;
    std::unique_ptr<Inflater> inflater_;
};

}  // namespace Pelmora
