/* Compiles the public header of the earlier libraries as C99 and calls pellib
 * through it, linked by name as a C host would. Exit status 0 when the round
 * trip holds and a failure is reported. */
#include <math.h>
#include <stdio.h>

#include "pel_earlier.h"

int main(void) {
    const double input[3] = {0.5, -1.5, 2.5};
    double encoded[3], decoded[3], untouched = -1.0;
    int i;

    encode("9f3e77a1c05b2d68", input, 3, encoded);
    decode("9f3e77a1c05b2d68", encoded, 3, decoded);
    if (last_error_message() != NULL) {
        fprintf(stderr, "header_c_test: %s\n", last_error_message());
        return 1;
    }
    for (i = 0; i < 3; ++i) {
        if (fabs(decoded[i] - input[i]) > 1e-12) {
            fprintf(stderr, "header_c_test: component %d is %.17g, not %.17g\n", i, decoded[i], input[i]);
            return 1;
        }
    }
    decode("9f3e77a1c05b2d68", input, 0, &untouched);
    if (last_error_message() == NULL || untouched != -1.0) {
        fprintf(stderr, "header_c_test: dimension 0 was not refused\n");
        return 1;
    }
    return 0;
}
