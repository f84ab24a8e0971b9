// The block cipher in plain C++, with no table indexed by, and no branch on, a
// byte of the key or the data.
//
// The S-box is computed, not looked up: the inverse in GF(2^8) is taken in the
// tower field GF(16)[y]/(y^2 + y + lambda), where it costs five products in
// GF(16), and the change of basis into and out of the tower is folded with the
// affine step into two 8x8 bit matrices, derived below at compile time.
//
// Bit planes: eight words, word b holding bit b of each byte. In a block, byte
// j (row j mod 4 of column j / 4) is bit j of a 16-bit plane.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

#include "sealing/aes.h"
#include "sealing/aes_engines.h"
#include "sealing/wipe.h"

namespace plusaes::detail {

namespace {

// --- Fields, and the bit matrices between them (compile time only) ---------

// GF(16) as GF(2)[z] / (z^4 + z + 1).
constexpr unsigned gf16_mul(unsigned a, unsigned b) {
    unsigned product = 0;
    for (int i = 0; i < 4; ++i) {
        if ((b >> i) & 1) product ^= a << i;
    }
    for (int i = 6; i >= 4; --i) {
        if ((product >> i) & 1) product ^= 0x13u << (i - 4);
    }
    return product;
}

// The smallest lambda for which y^2 + y + lambda has no root in GF(16).
constexpr unsigned find_lambda() {
    for (unsigned lambda = 1; lambda < 16; ++lambda) {
        bool has_root = false;
        for (unsigned y = 0; y < 16; ++y) {
            if ((gf16_mul(y, y) ^ y) == lambda) has_root = true;
        }
        if (!has_root) return lambda;
    }
    return 0;
}
constexpr unsigned kLambda = find_lambda();
static_assert(kLambda != 0, "no irreducible y^2 + y + lambda");

// A tower element: high nibble the coefficient of y, low nibble the constant.
constexpr unsigned tower_mul(unsigned a, unsigned b) {
    const unsigned a1 = a >> 4, a0 = a & 15, b1 = b >> 4, b0 = b & 15;
    const unsigned high = gf16_mul(a1, b1);
    return (high ^ gf16_mul(a1, b0) ^ gf16_mul(a0, b1)) << 4 | (gf16_mul(high, kLambda) ^ gf16_mul(a0, b0));
}

// A root in the tower of the AES polynomial x^8 + x^4 + x^3 + x + 1: sending x
// to it carries the AES field onto the tower.
constexpr unsigned find_root() {
    for (unsigned g = 2; g < 256; ++g) {
        unsigned power[9] = {1};
        for (int i = 1; i <= 8; ++i) power[i] = tower_mul(power[i - 1], g);
        if ((power[8] ^ power[4] ^ power[3] ^ power[1] ^ power[0]) == 0) return g;
    }
    return 0;
}

// An 8x8 bit matrix: byte r is row r, its bit c the coefficient of input bit c.
using Matrix = std::uint64_t;

constexpr unsigned apply(Matrix m, unsigned x) {
    unsigned y = 0;
    for (int r = 0; r < 8; ++r) {
        unsigned bits = static_cast<unsigned>(m >> (8 * r)) & x & 0xFF, parity = 0;
        for (; bits != 0; bits >>= 1) parity ^= bits & 1;
        y |= parity << r;
    }
    return y;
}

constexpr Matrix from_columns(const unsigned (&columns)[8]) {
    Matrix m = 0;
    for (int c = 0; c < 8; ++c) {
        for (int r = 0; r < 8; ++r) {
            if ((columns[c] >> r) & 1) m |= Matrix{1} << (8 * r + c);
        }
    }
    return m;
}

constexpr Matrix product(Matrix a, Matrix b) {
    unsigned columns[8] = {};
    for (int c = 0; c < 8; ++c) columns[c] = apply(a, apply(b, 1u << c));
    return from_columns(columns);
}

constexpr Matrix inverse(Matrix m) {
    unsigned columns[8] = {};
    for (unsigned x = 0; x < 256; ++x) {
        for (int c = 0; c < 8; ++c) {
            if (apply(m, x) == 1u << c) columns[c] = x;
        }
    }
    return from_columns(columns);
}

constexpr Matrix to_tower() {
    const unsigned root = find_root();
    unsigned columns[8] = {}, power = 1;
    for (int c = 0; c < 8; ++c, power = tower_mul(power, root)) columns[c] = power;
    return from_columns(columns);
}

// The linear part of the S-box's affine step: bit i is the sum of bits i, i+4,
// i+5, i+6 and i+7 (mod 8), so input bit c reaches outputs c to c+4.
constexpr Matrix affine() {
    unsigned columns[8] = {};
    for (int c = 0; c < 8; ++c) columns[c] = ((0x1Fu << c) | (0x1Fu >> (8 - c))) & 0xFF;
    return from_columns(columns);
}

// lambda * a1^2 + a0^2, the linear part of the norm a1^2 lambda + a1 a0 + a0^2
// (rows 4 to 7 are zero).
constexpr Matrix norm() {
    unsigned columns[8] = {};
    for (int c = 0; c < 8; ++c) {
        const unsigned a1 = (1u << c) >> 4, a0 = (1u << c) & 15;
        columns[c] = gf16_mul(kLambda, gf16_mul(a1, a1)) ^ gf16_mul(a0, a0);
    }
    return from_columns(columns);
}

constexpr Matrix kToTower = to_tower();
constexpr Matrix kFromTower = inverse(kToTower);
static_assert(find_root() != 0 && product(kToTower, kFromTower) == 0x8040201008040201u, "no basis change");
constexpr Matrix kNorm = norm();
constexpr unsigned kAffineConstant = 0x63;
// Forward: into the tower, invert, then out of it and the affine step at once.
constexpr Matrix kForwardOut = product(affine(), kFromTower);
// Inverse: undo the affine step and go into the tower at once, invert, go out.
constexpr Matrix kInverseIn = product(kToTower, inverse(affine()));
constexpr unsigned kInverseInConstant = apply(kInverseIn, kAffineConstant);

// --- Bit-plane arithmetic ---------------------------------------------------

using Plane = std::uint64_t;
using Planes = Plane[8];

// The rounds are a few hundred word operations on registers; a call between
// the steps would spill them.
#if defined(__GNUC__) || defined(__clang__)
#define PEL_PLANES_INLINE inline __attribute__((always_inline))
#else
#define PEL_PLANES_INLINE inline
#endif

template <Matrix M, int Row, std::size_t... Column>
PEL_PLANES_INLINE Plane matrix_row(const Plane* in, std::index_sequence<Column...>) {
    return (Plane{0} ^ ... ^ (((M >> (8 * Row + Column)) & 1) != 0 ? in[Column] : Plane{0}));
}

template <Matrix M, std::size_t... Row>
PEL_PLANES_INLINE void apply_planes(const Plane* in, Plane* out, std::index_sequence<Row...>) {
    ((out[Row] = matrix_row<M, Row>(in, std::make_index_sequence<8>{})), ...);
}

template <Matrix M>
PEL_PLANES_INLINE void apply_planes(const Plane* in, Plane* out) {
    apply_planes<M>(in, out, std::make_index_sequence<8>{});
}

template <unsigned Constant>
PEL_PLANES_INLINE void add_constant(Plane* planes) {
    for (int b = 0; b < 8; ++b) {
        if ((Constant >> b) & 1) planes[b] = ~planes[b];
    }
}

// Products and inverses in GF(16) of four planes each.
PEL_PLANES_INLINE void gf16_mul_planes(const Plane* a, const Plane* b, Plane* out) {
    const Plane c0 = a[0] & b[0];
    const Plane c1 = (a[0] & b[1]) ^ (a[1] & b[0]);
    const Plane c2 = (a[0] & b[2]) ^ (a[1] & b[1]) ^ (a[2] & b[0]);
    const Plane c3 = (a[0] & b[3]) ^ (a[1] & b[2]) ^ (a[2] & b[1]) ^ (a[3] & b[0]);
    const Plane c4 = (a[1] & b[3]) ^ (a[2] & b[2]) ^ (a[3] & b[1]);
    const Plane c5 = (a[2] & b[3]) ^ (a[3] & b[2]);
    const Plane c6 = a[3] & b[3];
    // z^4 = z + 1, z^5 = z^2 + z, z^6 = z^3 + z^2.
    out[0] = c0 ^ c4;
    out[1] = c1 ^ c4 ^ c5;
    out[2] = c2 ^ c5 ^ c6;
    out[3] = c3 ^ c6;
}

// The algebraic normal form of d^14 = d^-1 (0 for 0), bit by bit.
PEL_PLANES_INLINE void gf16_invert_planes(const Plane* d, Plane* out) {
    const Plane d01 = d[0] & d[1], d02 = d[0] & d[2], d12 = d[1] & d[2];
    const Plane d03 = d[0] & d[3], d13 = d[1] & d[3], d23 = d[2] & d[3];
    const Plane d012 = d01 & d[2], d123 = d12 & d[3], d013 = d01 & d[3], d023 = d02 & d[3];
    out[0] = d[0] ^ d[1] ^ d[2] ^ d[3] ^ d02 ^ d12 ^ d012 ^ d123;
    out[1] = d01 ^ d02 ^ d12 ^ d[3] ^ d13 ^ d013;
    out[2] = d01 ^ d02 ^ d[2] ^ d[3] ^ d03 ^ d023;
    out[3] = d[1] ^ d[2] ^ d[3] ^ d03 ^ d13 ^ d23 ^ d123;
}

// (a1 y + a0)^-1 = (a1 y + a0 + a1) / (a1^2 lambda + a1 a0 + a0^2), 0 for 0.
PEL_PLANES_INLINE void tower_invert_planes(Plane* t) {
    const Plane* a0 = t;
    const Plane* a1 = t + 4;
    Plane cross[4], linear[8], d[4], d_inv[4], sum[4], out0[4], out1[4];
    gf16_mul_planes(a0, a1, cross);
    apply_planes<kNorm>(t, linear);
    for (int i = 0; i < 4; ++i) {
        d[i] = cross[i] ^ linear[i];
        sum[i] = a0[i] ^ a1[i];
    }
    gf16_invert_planes(d, d_inv);
    gf16_mul_planes(sum, d_inv, out0);
    gf16_mul_planes(a1, d_inv, out1);
    for (int i = 0; i < 4; ++i) {
        t[i] = out0[i];
        t[4 + i] = out1[i];
    }
}

PEL_PLANES_INLINE void sbox_planes(Plane* x) {
    Planes t;
    apply_planes<kToTower>(x, t);
    tower_invert_planes(t);
    apply_planes<kForwardOut>(t, x);
    add_constant<kAffineConstant>(x);
}

PEL_PLANES_INLINE void inv_sbox_planes(Plane* x) {
    Planes t;
    apply_planes<kInverseIn>(x, t);
    add_constant<kInverseInConstant>(t);
    tower_invert_planes(t);
    apply_planes<kFromTower>(t, x);
}

// --- Between bytes and planes -------------------------------------------------

std::uint64_t load64(const unsigned char* bytes) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

void store64(std::uint64_t value, unsigned char* bytes) {
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Transpose of the 8x8 bit matrix whose row j is byte j: afterwards byte b
// holds bit b of every original byte. Its own inverse.
std::uint64_t transpose8(std::uint64_t x) {
    std::uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    x ^= t ^ (t << 28);
    return x;
}

void block_to_planes(const unsigned char* block, Plane* planes) {
    const std::uint64_t low = transpose8(load64(block));
    const std::uint64_t high = transpose8(load64(block + 8));
    for (int b = 0; b < 8; ++b) {
        const Plane plane = ((low >> (8 * b)) & 0xFF) | ((high >> (8 * b)) & 0xFF) << 8;
        planes[b] = plane * 0x0001000100010001u;
    }
}

// Row r of column c is taken from column c + skew r, where the rounds left it.
void block_from_planes(const Plane* planes, int skew, unsigned char* block) {
    std::uint64_t low = 0, high = 0;
    for (int b = 0; b < 8; ++b) {
        low |= (planes[b] & 0xFF) << (8 * b);
        high |= ((planes[b] >> 8) & 0xFF) << (8 * b);
    }
    unsigned char skewed[16];
    store64(transpose8(low), skewed);
    store64(transpose8(high), skewed + 8);
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r) {
            block[4 * c + r] = skewed[4 * ((c + skew * r) & 3) + r];
        }
    }
}

// A word's four bytes into bits 0 to 3 of the planes, and back.
void word_to_planes(std::uint32_t word, Plane* planes) {
    const std::uint64_t t = transpose8(word);
    for (int b = 0; b < 8; ++b) planes[b] = (t >> (8 * b)) & 0x0F;
}

std::uint32_t word_from_planes(const Plane* planes) {
    std::uint64_t t = 0;
    for (int b = 0; b < 8; ++b) t |= (planes[b] & 0x0F) << (8 * b);
    return static_cast<std::uint32_t>(transpose8(t));
}

// --- Rounds on planes -----------------------------------------------------------
//
// A block's plane is 16 bits, held four times over in the 64-bit word, so that
// turning the word turns every copy: bit j takes bit j + s (mod 16).
//
// ShiftRows is not done between rounds. After k rounds without it, row r of
// column c stands in column c + k r (mod 4), the skew k; the column mixing
// reads its rows where they stand, and each round key is stored in the skew of
// its round. The bytes are put back in place as the block is stored.

template <int S>
PEL_PLANES_INLINE Plane turn(Plane p) {
    constexpr int s = ((S % 16) + 16) % 16;
    if constexpr (s == 0) {
        return p;
    } else {
        return (p >> s) | (p << (64 - s));
    }
}

constexpr Plane kRow0 = 0x1111111111111111u;
constexpr Plane kRows01 = 0x3333333333333333u;
constexpr Plane kRows012 = 0x7777777777777777u;

// Row r takes row r + 1, or r + 2 (mod 4), of its own column in skew K: that
// row stands K columns on (4K bits), and past row 3 one column back (4 bits).
template <int K>
PEL_PLANES_INLINE Plane next_row(Plane p) {
    return (turn<4 * K + 1>(p) & kRows012) | (turn<4 * K - 3>(p) & ~kRows012);
}

template <int K>
PEL_PLANES_INLINE Plane row_after_next(Plane p) {
    return (turn<8 * K + 2>(p) & kRows01) | (turn<8 * K - 2>(p) & ~kRows01);
}

// InvShiftRows: column c takes column c - r in row r, which raises the skew by
// one. Only the round keys are moved so.
PEL_PLANES_INLINE void inv_shift_rows_planes(Plane* planes) {
    for (int b = 0; b < 8; ++b) {
        const Plane p = planes[b];
        planes[b] = (p & kRow0) | turn<12>(p & (kRow0 << 1)) | turn<8>(p & (kRow0 << 2)) | turn<4>(p & (kRow0 << 3));
    }
}

// Doubling in GF(2^8): bit 7 leaves and comes back as 0x1B.
PEL_PLANES_INLINE void double_planes(const Plane* in, Plane* out) {
    const Plane top = in[7];
    out[7] = in[6];
    out[6] = in[5];
    out[5] = in[4];
    out[4] = in[3] ^ top;
    out[3] = in[2] ^ top;
    out[2] = in[1];
    out[1] = in[0] ^ top;
    out[0] = top;
}

// Row r becomes 2 b_r + 3 b_{r+1} + b_{r+2} + b_{r+3}, written with
// t_r = b_r + b_{r+1} as 2 t_r + t_r + b_r + t_{r+2}.
template <int K>
PEL_PLANES_INLINE void mix_columns_planes(Plane* planes) {
    Planes t, doubled;
    for (int b = 0; b < 8; ++b) t[b] = planes[b] ^ next_row<K>(planes[b]);
    double_planes(t, doubled);
    for (int b = 0; b < 8; ++b) planes[b] ^= doubled[b] ^ t[b] ^ row_after_next<K>(t[b]);
}

// InvMixColumns is MixColumns after adding 4 (b_r + b_{r+2}) to each row b_r.
template <int K>
PEL_PLANES_INLINE void inv_mix_columns_planes(Plane* planes) {
    Planes sum, twice, four;
    for (int b = 0; b < 8; ++b) sum[b] = planes[b] ^ row_after_next<K>(planes[b]);
    double_planes(sum, twice);
    double_planes(twice, four);
    for (int b = 0; b < 8; ++b) planes[b] ^= four[b];
    mix_columns_planes<K>(planes);
}

struct MixColumns {
    template <int K>
    static PEL_PLANES_INLINE void run(Plane* planes) {
        mix_columns_planes<K>(planes);
    }
};

struct InvMixColumns {
    template <int K>
    static PEL_PLANES_INLINE void run(Plane* planes) {
        inv_mix_columns_planes<K>(planes);
    }
};

// The round's skew is public: a branch on it leaks nothing.
template <class Step>
void in_skew(int skew, Plane* planes) {
    switch (skew & 3) {
        case 0: Step::template run<0>(planes); break;
        case 1: Step::template run<1>(planes); break;
        case 2: Step::template run<2>(planes); break;
        default: Step::template run<3>(planes); break;
    }
}

PEL_PLANES_INLINE void add_round_key_planes(const Plane* key, Plane* planes) {
    for (int b = 0; b < 8; ++b) planes[b] ^= key[b];
}

// Round key k stands in skew k when encrypting and in skew k - rounds when
// decrypting (the inverse cipher skips an InvShiftRows per round).
int encryption_skew(int round) {
    return round & 3;
}

int decryption_skew(int round, int rounds) {
    return (round - rounds) & 3;
}

void encrypt_planes(const Plane (*keys)[8], int rounds, Plane* planes) {
    add_round_key_planes(keys[0], planes);
    for (int round = 1; round < rounds; ++round) {
        sbox_planes(planes);
        in_skew<MixColumns>(encryption_skew(round), planes);
        add_round_key_planes(keys[round], planes);
    }
    sbox_planes(planes);
    add_round_key_planes(keys[rounds], planes);
}

void decrypt_planes(const Plane (*keys)[8], int rounds, Plane* planes) {
    add_round_key_planes(keys[rounds], planes);
    inv_sbox_planes(planes);
    for (int round = rounds - 1; round >= 1; --round) {
        add_round_key_planes(keys[round], planes);
        in_skew<InvMixColumns>(decryption_skew(round, rounds), planes);
        inv_sbox_planes(planes);
    }
    add_round_key_planes(keys[0], planes);
}

// --- Bytes and words of the plain route -------------------------------------

std::uint32_t load_word(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void store_word(std::uint32_t word, unsigned char* bytes) {
    for (int row = 0; row < 4; ++row) {
        bytes[row] = static_cast<unsigned char>(word >> (8 * row));
    }
}

unsigned char row_byte(std::uint32_t word, int row) {
    return static_cast<unsigned char>(word >> (8 * row));
}

std::uint32_t pack_column(unsigned char b0, unsigned char b1, unsigned char b2, unsigned char b3) {
    return static_cast<std::uint32_t>(b0) | static_cast<std::uint32_t>(b1) << 8 |
           static_cast<std::uint32_t>(b2) << 16 | static_cast<std::uint32_t>(b3) << 24;
}

}  // namespace

unsigned char mul2(unsigned char x) {
    // 0x1B where bit 7 was set, by a mask rather than a branch; bit 8 of the
    // shifted value falls off in the cast, so XOR 0x1B is XOR 0x11B.
    const unsigned top = static_cast<unsigned>(x) >> 7;
    return static_cast<unsigned char>((x << 1) ^ (0x1Bu & (0u - top)));
}

unsigned char mul(unsigned char a, unsigned char b) {
    unsigned char product = 0;
    for (int bit = 0; bit < 8; ++bit) {
        const unsigned take = 0u - ((static_cast<unsigned>(b) >> bit) & 1u);
        product = static_cast<unsigned char>(product ^ (a & take));
        a = mul2(a);
    }
    return product;
}

std::uint32_t sub_word(std::uint32_t word) {
    Planes planes;
    word_to_planes(word, planes);
    sbox_planes(planes);
    return word_from_planes(planes);
}

std::uint32_t inv_sub_word(std::uint32_t word) {
    Planes planes;
    word_to_planes(word, planes);
    inv_sbox_planes(planes);
    return word_from_planes(planes);
}

std::uint32_t rot_word(std::uint32_t word) {
    return (word >> 8) | (word << 24);
}

bool is_valid_key_size(std::uint64_t size) {
    return size == 16 || size == 24 || size == 32;
}

int get_round_count(int key_size) {
    switch (key_size) {
        case 16:
            return 10;
        case 24:
            return 12;
        case 32:
            return 14;
        default:
            throw std::invalid_argument("Invalid key size");
    }
}

void expand_key_into(const unsigned char* key, int key_size, State* round_keys) {
    // Rcon[i] = x^(i-1) in row 0; entry 0 is never read.
    static constexpr std::uint32_t kRoundConstants[11] = {0x00, 0x01, 0x02, 0x04, 0x08, 0x10,
                                                          0x20, 0x40, 0x80, 0x1B, 0x36};
    const int key_words = key_size / 4;
    const int total_words = 4 * (get_round_count(key_size) + 1);
    auto word = [round_keys](int i) -> std::uint32_t& { return round_keys[i / 4][i % 4]; };

    for (int i = 0; i < key_words; ++i) {
        word(i) = load_word(key + 4 * i);
    }
    for (int i = key_words; i < total_words; ++i) {
        std::uint32_t temp = word(i - 1);
        if (i % key_words == 0) {
            temp = sub_word(rot_word(temp)) ^ kRoundConstants[i / key_words];
        } else if (key_words > 6 && i % key_words == 4) {
            temp = sub_word(temp);
        }
        word(i) = word(i - key_words) ^ temp;
    }
}

std::vector<State> expand_key(const unsigned char* key, int key_size) {
    std::vector<State> round_keys(static_cast<std::size_t>(get_round_count(key_size) + 1));
    expand_key_into(key, key_size, round_keys.data());
    return round_keys;
}

void copy_bytes_to_state(const unsigned char* data, State& state) {
    for (int column = 0; column < 4; ++column) {
        state[column] = load_word(data + 4 * column);
    }
}

void copy_state_to_bytes(const State& state, unsigned char* data) {
    for (int column = 0; column < 4; ++column) {
        store_word(state[column], data + 4 * column);
    }
}

void add_round_key(const State& round_key, State& state) {
    for (int column = 0; column < 4; ++column) {
        state[column] ^= round_key[column];
    }
}

void sub_bytes(State& state) {
    for (int column = 0; column < 4; ++column) {
        state[column] = sub_word(state[column]);
    }
}

void inv_sub_bytes(State& state) {
    for (int column = 0; column < 4; ++column) {
        state[column] = inv_sub_word(state[column]);
    }
}

void shift_rows(State& state) {
    const State copy = state;
    for (int row = 1; row < 4; ++row) {
        const std::uint32_t lane = 0xFFu << (8 * row);
        for (int column = 0; column < 4; ++column) {
            state[column] = (state[column] & ~lane) | (copy[(column + row) % 4] & lane);
        }
    }
}

void inv_shift_rows(State& state) {
    const State copy = state;
    for (int row = 1; row < 4; ++row) {
        const std::uint32_t lane = 0xFFu << (8 * row);
        for (int column = 0; column < 4; ++column) {
            state[column] = (state[column] & ~lane) | (copy[(column - row + 4) % 4] & lane);
        }
    }
}

void mix_columns(State& state) {
    for (int column = 0; column < 4; ++column) {
        const std::uint32_t word = state[column];
        const unsigned char b0 = row_byte(word, 0);
        const unsigned char b1 = row_byte(word, 1);
        const unsigned char b2 = row_byte(word, 2);
        const unsigned char b3 = row_byte(word, 3);
        const unsigned char d0 = mul2(b0);
        const unsigned char d1 = mul2(b1);
        const unsigned char d2 = mul2(b2);
        const unsigned char d3 = mul2(b3);
        state[column] = pack_column(static_cast<unsigned char>(d0 ^ (d1 ^ b1) ^ b2 ^ b3),
                                    static_cast<unsigned char>(b0 ^ d1 ^ (d2 ^ b2) ^ b3),
                                    static_cast<unsigned char>(b0 ^ b1 ^ d2 ^ (d3 ^ b3)),
                                    static_cast<unsigned char>((d0 ^ b0) ^ b1 ^ b2 ^ d3));
    }
}

void inv_mix_columns(State& state) {
    // Products by 09, 0B, 0D and 0E from three doublings of each byte.
    for (int column = 0; column < 4; ++column) {
        const std::uint32_t word = state[column];
        unsigned char x9[4], xb[4], xd[4], xe[4];
        for (int row = 0; row < 4; ++row) {
            const unsigned char b = row_byte(word, row);
            const unsigned char b2 = mul2(b);
            const unsigned char b4 = mul2(b2);
            const unsigned char b8 = mul2(b4);
            x9[row] = static_cast<unsigned char>(b8 ^ b);
            xb[row] = static_cast<unsigned char>(b8 ^ b2 ^ b);
            xd[row] = static_cast<unsigned char>(b8 ^ b4 ^ b);
            xe[row] = static_cast<unsigned char>(b8 ^ b4 ^ b2);
        }
        state[column] = pack_column(static_cast<unsigned char>(xe[0] ^ xb[1] ^ xd[2] ^ x9[3]),
                                    static_cast<unsigned char>(x9[0] ^ xe[1] ^ xb[2] ^ xd[3]),
                                    static_cast<unsigned char>(xd[0] ^ x9[1] ^ xe[2] ^ xb[3]),
                                    static_cast<unsigned char>(xb[0] ^ xd[1] ^ x9[2] ^ xe[3]));
    }
}

void encrypt_state(const std::vector<State>& round_keys, const unsigned char* in, unsigned char* out) {
    const std::size_t last = round_keys.size() - 1;
    State state;
    copy_bytes_to_state(in, state);
    add_round_key(round_keys[0], state);
    for (std::size_t round = 1; round < last; ++round) {
        sub_bytes(state);
        shift_rows(state);
        mix_columns(state);
        add_round_key(round_keys[round], state);
    }
    sub_bytes(state);
    shift_rows(state);
    add_round_key(round_keys[last], state);
    copy_state_to_bytes(state, out);
}

void decrypt_state(const std::vector<State>& round_keys, const unsigned char* in, unsigned char* out) {
    const std::size_t last = round_keys.size() - 1;
    State state;
    copy_bytes_to_state(in, state);
    add_round_key(round_keys[last], state);
    inv_shift_rows(state);
    inv_sub_bytes(state);
    for (std::size_t round = last - 1; round >= 1; --round) {
        add_round_key(round_keys[round], state);
        inv_mix_columns(state);
        inv_shift_rows(state);
        inv_sub_bytes(state);
    }
    add_round_key(round_keys[0], state);
    copy_state_to_bytes(state, out);
}

void xor_data(unsigned char* dst, const unsigned char* src) {
    for (int i = 0; i < 16; ++i) {
        dst[i] = static_cast<unsigned char>(dst[i] ^ src[i]);
    }
}

// --- The portable engine ----------------------------------------------------

void portable_prepare(const State* round_keys, int rounds, std::uint64_t (*planes)[8]) {
    std::uint64_t (*decryption)[8] = planes + rounds + 1;
    for (int k = 0; k <= rounds; ++k) {
        unsigned char bytes[16];
        copy_state_to_bytes(round_keys[k], bytes);
        block_to_planes(bytes, planes[k]);
        Pelmora::sealing::secure_wipe(bytes, sizeof bytes);
        for (int b = 0; b < 8; ++b) decryption[k][b] = planes[k][b];
        for (int skew = 0; skew < encryption_skew(k); ++skew) inv_shift_rows_planes(planes[k]);
        for (int skew = 0; skew < decryption_skew(k, rounds); ++skew) inv_shift_rows_planes(decryption[k]);
    }
}

void portable_encrypt(const std::uint64_t (*planes)[8], int rounds, const unsigned char* in, unsigned char* out) {
    Planes state;
    block_to_planes(in, state);
    encrypt_planes(planes, rounds, state);
    block_from_planes(state, encryption_skew(rounds), out);
}

void portable_decrypt(const std::uint64_t (*planes)[8], int rounds, const unsigned char* in, unsigned char* out) {
    Planes state;
    block_to_planes(in, state);
    decrypt_planes(planes + rounds + 1, rounds, state);
    block_from_planes(state, decryption_skew(0, rounds), out);
}

}  // namespace plusaes::detail
