/* Runs the demonstration driver of a codec library.
 * Usage: pel_demo_host <path to pellib, libpel_linux or libpel_arm64>.
 * Exit status: the driver's result; 1 if the library or its main cannot be
 * loaded, 2 on wrong usage. */
#include <dlfcn.h>
#include <stdio.h>

typedef int (*driver_fn)(void);

int main(int argc, char **argv) {
    void *library;
    driver_fn driver;

    if (argc != 2) {
        fprintf(stderr, "usage: pel_demo_host <library>\n");
        return 2;
    }
    library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "pel_demo_host: %s\n", dlerror());
        return 1;
    }
    /* POSIX allows converting dlsym's result this way; ISO C has no direct cast. */
    *(void **)(&driver) = dlsym(library, "main");
    if (driver == NULL) {
        fprintf(stderr, "pel_demo_host: %s has no main\n", argv[1]);
        dlclose(library);
        return 1;
    }
    /* The library stays loaded until exit: its streams flush at process end. */
    return driver();
}
