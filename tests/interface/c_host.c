/* A C host: loads libpel_arm64 with dlopen and drives every exported function.
 * Usage: c_host <path to libpel_arm64>. Exit status 0 when every check holds. */
#define _POSIX_C_SOURCE 200809L

#include <dlfcn.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "pel_arm64.h"

#define KEY "7e41c09b2d5fa38816cb0e4f9a27d563"

typedef void (*vector_fn)(const char *, const char *, int, int, const double *, double *);
typedef void (*encode_fn)(const char *, const char *, int, int, const char *, char **);
typedef void (*decode_fn)(const char *, const char *, int, int, const double *, const char *, char **);
typedef void (*free_fn)(char *);
typedef const char *(*error_fn)(void);

static int failures = 0;

static void check(int condition, const char *what) {
    if (!condition) {
        fprintf(stderr, "c_host: FAILED: %s\n", what);
        ++failures;
    }
}

static int starts_with(const char *text, const char *prefix) {
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

/* POSIX allows converting dlsym's result this way; ISO C has no direct cast. */
static void *symbol(void *library, const char *name) {
    void *address = dlsym(library, name);
    if (address == NULL) {
        fprintf(stderr, "c_host: missing symbol %s\n", name);
        ++failures;
    }
    return address;
}

#define LOAD(type, var, name) \
    type var;                 \
    *(void **)(&var) = symbol(library, name)

int main(int argc, char **argv) {
    static const char key[] = KEY;
    static const char records[] =
        "[{\"id\":\"a\",\"filter\":null,\"meta\":{\"n\":1},\"vector\":[1,0,0,0]},"
        "{\"id\":\"b\",\"filter\":{\"f\":2},\"meta\":\"two\",\"vector\":[0,2,0,1]},"
        "{\"id\":\"c\",\"filter\":[3],\"meta\":null,\"vector\":[5,5,5,5]}]";
    const double input[4] = {0.5, -1.5, 2.5, 3.0};
    const double query[4] = {0, 2, 0, 1};
    const double junk = -12345.0;
    double encoded[4], decoded[4], untouched[4];
    char sentinel = 0;
    char *out = &sentinel;
    char *encoded_json = NULL;
    int i;
    void *library;

    if (argc != 2) {
        fprintf(stderr, "usage: c_host <library>\n");
        return 2;
    }
    library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "c_host: %s\n", dlerror());
        return 1;
    }
    {
        LOAD(vector_fn, enc_vec, "encode_vector");
        LOAD(vector_fn, dec_vec, "decode_vector");
        LOAD(encode_fn, enc, "encode");
        LOAD(decode_fn, dec, "decode");
        LOAD(free_fn, release, "free_output_buffer");
        LOAD(error_fn, last_error, "last_error_message");
        if (failures) return 1;

        enc_vec(key, "COSINE", 1, 4, input, encoded);
        check(last_error() == NULL, "encode_vector succeeds");
        dec_vec(key, "COSINE", 1, 4, encoded, decoded);
        check(last_error() == NULL, "decode_vector succeeds");
        for (i = 0; i < 4; ++i) check(fabs(decoded[i] - input[i]) < 1e-12, "vector round trip");

        for (i = 0; i < 4; ++i) untouched[i] = junk;
        enc_vec("zz", "COSINE", 1, 4, input, untouched);
        check(last_error() != NULL, "bad key reported");
        for (i = 0; i < 4; ++i) check(untouched[i] == junk, "bad key leaves output untouched");

        enc(key, "L2", 1, 4, records, &encoded_json);
        check(last_error() == NULL && encoded_json != NULL, "encode succeeds");
        if (encoded_json != NULL) {
            check(starts_with(encoded_json, "[{\"filter\":null,\"id\":\"a\",\"meta\":\""), "encoded form");
            dec(key, "L2", 1, 4, query, encoded_json, &out);
            check(last_error() == NULL && out != &sentinel, "decode succeeds");
            if (out != &sentinel) {
                /* Under L2 the record equal to the query comes first. */
                check(starts_with(out, "[{\"filter\":{\"f\":2},\"id\":\"b\",\"meta\":\"two\",\"similarity\":"),
                      "nearest record first");
                release(out);
                check(last_error() == NULL, "free_output_buffer succeeds");
            }
            release(encoded_json);
        }

        out = &sentinel;
        enc(KEY "0", "L2", 1, 4, records, &out);
        check(last_error() != NULL && strcmp(last_error(), "Invalid key size. Must be 16, 24, or 32 bytes. The key has "
                                                           "33 characters (17 bytes); use 32, 48 or 64 hexadecimal "
                                                           "digits.") == 0,
              "33-digit key fails");
        check(out == &sentinel, "failed encode stores nothing");
        enc(key, "L2", 1, 4, "[", &out);
        check(last_error() != NULL, "unparsable text fails");
        check(out == &sentinel, "failed encode stores nothing");
        dec(key, "L2", 1, 4, query, "[1]", &out);
        check(last_error() != NULL, "record that is not an object fails");
        check(out == &sentinel, "failed decode stores nothing");
        release(NULL);
        check(last_error() == NULL, "free_output_buffer(NULL) is allowed");
    }
    dlclose(library);
    if (failures == 0) printf("c_host: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
