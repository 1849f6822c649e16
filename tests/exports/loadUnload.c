/* Loads and unloads the library given as the argument; any output is a failure. */
#include <dlfcn.h>
#include <stdio.h>

int main(int argc, char **argv) {
    if (argc != 2) {
        return 2;
    }
    for (int round = 0; round < 2; ++round) {
        void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
        if (library == NULL) {
            fprintf(stderr, "dlopen: %s\n", dlerror());
            return 1;
        }
        if (dlsym(library, "ZELSMBusClose") == NULL) {
            fprintf(stderr, "ZELSMBusClose missing\n");
            return 1;
        }
        if (dlclose(library) != 0) {
            fprintf(stderr, "dlclose: %s\n", dlerror());
            return 1;
        }
    }
    return 0;
}
