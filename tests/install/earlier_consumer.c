/* An installed pellib or libpel_linux as a C host sees it: header and library
 * found by pkg-config or find_package, nothing else. Prints "earlier consumer:
 * ok" on success, which also proves that this main, not the library's own,
 * ran. */
#include <stdio.h>

#include "pel_earlier.h"

#define KEY "9f3e77a1c05b2d68"
#define DIM 3

static double distance(double a, double b) { return a > b ? a - b : b - a; }

int main(void) {
    const double input[DIM] = {0.5, -1.5, 2.5};
    double encoded[DIM], decoded[DIM], untouched = -1.0;
    int i, changed = 0;

    encode(KEY, input, DIM, encoded);
    if (last_error_message() != NULL) {
        fprintf(stderr, "earlier consumer: encode failed: %s\n", last_error_message());
        return 1;
    }
    decode(KEY, encoded, DIM, decoded);
    if (last_error_message() != NULL) {
        fprintf(stderr, "earlier consumer: decode failed: %s\n", last_error_message());
        return 1;
    }
    for (i = 0; i < DIM; ++i) {
        changed |= encoded[i] != input[i];
        if (distance(decoded[i], input[i]) > 1e-12) {
            fprintf(stderr, "earlier consumer: component %d is %.17g, not %.17g\n", i, decoded[i], input[i]);
            return 1;
        }
    }
    if (!changed) {
        fprintf(stderr, "earlier consumer: the encoding equals the input\n");
        return 1;
    }
    decode(KEY, input, 0, &untouched);
    if (last_error_message() == NULL || untouched != -1.0) {
        fprintf(stderr, "earlier consumer: dimension 0 was not refused\n");
        return 1;
    }
    printf("earlier consumer: ok\n");
    return 0;
}
