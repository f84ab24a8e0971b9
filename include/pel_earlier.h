/*
 * pellib and libpel_linux: the earlier keyed vector codec.
 *
 * Both libraries offer the same functions with the same results up to the last
 * bits of rounding: pellib rounds fused multiply-adds once, libpel_linux rounds
 * every product and sum separately. A vector encoded by one decodes under the
 * other. Their encodings are not those of libpel_arm64 from dimension 3 on, and
 * these encode and decode take other arguments than libpel_arm64's functions of
 * the same names.
 *
 * Every function builds its own codec from its arguments and keeps nothing
 * between calls; functions may be called from any number of threads at once.
 *
 * Arguments: `key` is the codec key in hexadecimal digits, NUL-terminated and
 * only read; its first 16 characters are used. `dim` is the dimension and the
 * number of doubles in both arrays.
 *
 * Failures: no function lets an exception out. A failed call writes a line
 * with the reason to stderr, leaves `output` untouched, and makes
 * last_error_message() return the reason; a successful call makes it return
 * NULL.
 *
 * Each library also exports `int main(void)`, a demonstration driver that
 * encodes and decodes a sample vector and prints it to stdout. It is not
 * declared here, so that a host's own main is unaffected; look it up with
 * dlsym.
 */
#ifndef PEL_EARLIER_H
#define PEL_EARLIER_H

#ifndef PEL_EXPORT
#if defined(_WIN32)
#define PEL_EXPORT __declspec(dllexport)
#else
#define PEL_EXPORT __attribute__((visibility("default")))
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Reads dim doubles from input and writes their encoding, dim doubles, to
 * output; needs dim >= 0. input and output may be the same array. */
PEL_EXPORT void encode(const char *key, const double *input, int dim, double *output);

/* Reads dim doubles from input and writes their decoding, dim doubles, to
 * output; needs dim >= 1. input and output may be the same array. */
PEL_EXPORT void decode(const char *key, const double *input, int dim, double *output);

/* The reason the calling thread's last call of this library failed, or NULL if
 * it succeeded. The text belongs to the library and stays valid until the
 * thread's next call; never free it. */
PEL_EXPORT const char *last_error_message(void);

#ifdef __cplusplus
}
#endif

#endif /* PEL_EARLIER_H */
