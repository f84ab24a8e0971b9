/* An installed libpel_arm64 as a C host sees it: header and library found by
 * pkg-config or find_package, nothing else. Prints "vector consumer: ok" on
 * success, which also proves that this main, not the library's own, ran. */
#include <stdio.h>

#include "pel_arm64.h"

#define KEY "7e41c09b2d5fa38816cb0e4f9a27d563"
#define DIM 4

static double distance(double a, double b) { return a > b ? a - b : b - a; }

int main(void) {
    const double input[DIM] = {0.5, -1.5, 2.5, 3.0};
    double encoded[DIM], decoded[DIM], untouched = -1.0;
    int i, changed = 0;

    encode_vector(KEY, "COSINE", 1, DIM, input, encoded);
    if (last_error_message() != NULL) {
        fprintf(stderr, "vector consumer: encode_vector failed: %s\n", last_error_message());
        return 1;
    }
    decode_vector(KEY, "COSINE", 1, DIM, encoded, decoded);
    if (last_error_message() != NULL) {
        fprintf(stderr, "vector consumer: decode_vector failed: %s\n", last_error_message());
        return 1;
    }
    for (i = 0; i < DIM; ++i) {
        changed |= encoded[i] != input[i];
        if (distance(decoded[i], input[i]) > 1e-12 * DIM) {
            fprintf(stderr, "vector consumer: component %d is %.17g, not %.17g\n", i, decoded[i], input[i]);
            return 1;
        }
    }
    if (!changed) {
        fprintf(stderr, "vector consumer: the encoding equals the input\n");
        return 1;
    }
    decode_vector(KEY, "COSINE", 1, 1, input, &untouched);
    if (last_error_message() == NULL || untouched != -1.0) {
        fprintf(stderr, "vector consumer: dimension 1 was not refused\n");
        return 1;
    }
    printf("vector consumer: ok\n");
    return 0;
}
