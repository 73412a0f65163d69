/* A host program built against an installed dedediruzurud: it numbers a
 * document and checks that a failure leaves the library's message. */
#include <stdio.h>
#include <string.h>

#include <dedediruzurud.h>

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: consume IN.pdf OUT.pdf\n");
        return 2;
    }
    if (!dedediruzurud_add(argv[1], argv[2], DEDEDIRUZURUD_BOTTOM_RIGHT, "Page {n} of {total}", 10, 1,
                           0, 0, 0)) {
        fprintf(stderr, "consume: %s\n", dedediruzurud_last_error());
        return 1;
    }
    if (dedediruzurud_add("no-such.pdf", argv[2], 0, NULL, 0, 1, 0, 0, 0) ||
        strcmp(dedediruzurud_last_error(), "cannot open no-such.pdf") != 0) {
        fprintf(stderr, "consume: unexpected result for a missing input: '%s'\n", dedediruzurud_last_error());
        return 1;
    }
    return 0;
}
