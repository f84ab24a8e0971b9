/*
 * libpel_arm64: keyed vector codec.
 *
 * Every function builds its own codec from its arguments and keeps nothing
 * between calls; functions may be called from any number of threads at once.
 *
 * Arguments: `key` is the codec key in hexadecimal digits. The vector
 * functions read its four fields of four characters (at least 13 characters);
 * the record-set functions also encrypt with the whole key read as digit
 * pairs, which must give 16, 24 or 32 bytes (31 or 32, 47 or 48, 63 or 64
 * characters). `space` is the metric name, "COSINE", "L2" or "INNER_PRODUCT";
 * the record-set functions refuse any other, the vector functions take any
 * name (only version 1 with "COSINE" turns the scaling on). `version` is the
 * parameter profile, 1 or 2. `dim` is the dimension and the number of doubles
 * in every array argument. Text arguments are NUL-terminated and only read.
 *
 * JSON texts nested deeper than 1000 levels of arrays and objects are refused.
 *
 * Failures: no function lets an exception out. A failed call writes one line
 * to stderr ("<function>: <reason>", or only the library's own line "Invalid
 * version number" or "Error parsing JSON data: <reason>"), leaves every output
 * untouched, and makes last_error_message() return the reason (after the line
 * "Invalid version number" the reason goes on to name the version given); a
 * successful call makes it return NULL. A reason is at most 4096 bytes: a
 * longer one is cut in the middle and says how long it was. The reason for a
 * fault in one record of a set starts with "Record at index N: " (N counted
 * from 0), or, for a set given as a JSON object, "Record "<member>" of the
 * record set, an object: ".
 */
#ifndef PEL_ARM64_H
#define PEL_ARM64_H

#if defined(_WIN32)
#define PEL_EXPORT __declspec(dllexport)
#else
#define PEL_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Reads dim doubles from input and writes their encoding, dim doubles, to
 * output. input and output may be the same array. */
PEL_EXPORT void encode_vector(const char *key, const char *space, int version, int dim, const double *input,
                              double *output);

/* Reads dim doubles from input and writes their decoding to output; needs
 * dim >= 2. input and output may be the same array. */
PEL_EXPORT void decode_vector(const char *key, const char *space, int version, int dim, const double *input,
                              double *output);

/* Reads the record set in records_json (JSON text, an array of objects with
 * "id", "filter", "meta" and a "vector" of dim numbers) and stores through
 * *out_json a new NUL-terminated JSON text of the encoded records, which the
 * caller owns and releases with free_output_buffer. Text that does not parse
 * fails the call after the line "Error parsing JSON data: <reason>" on stderr.
 * On failure *out_json is left as it was. */
PEL_EXPORT void encode(const char *key, const char *space, int version, int dim, const char *records_json,
                       char **out_json);

/* Reads an encoded record set in records_json and a query of dim doubles (not
 * read when the set has no records) and
 * stores through *out_json a new NUL-terminated JSON text of the opened
 * records, each with its "similarity" to the query, best first ("COSINE",
 * "INNER_PRODUCT": highest; "L2": lowest; records scoring NaN last). The caller
 * owns the text and releases it with free_output_buffer; on failure *out_json
 * is left as it was. Needs dim >= 2. A null in an encoded "vector" is read as
 * the NaN that encode wrote as null. */
PEL_EXPORT void decode(const char *key, const char *space, int version, int dim, const double *query,
                       const char *records_json, char **out_json);

/* Releases a text stored by encode or decode; NULL is allowed and ignored.
 * Every such text must be released here, exactly once, and by nothing else
 * (not free()). */
PEL_EXPORT void free_output_buffer(char *buffer);

/* The reason the calling thread's last call of this library failed, or NULL if
 * it succeeded. The text belongs to the library and stays valid until the
 * thread's next call; never free it. */
PEL_EXPORT const char *last_error_message(void);

#ifdef __cplusplus
}
#endif

#endif /* PEL_ARM64_H */
