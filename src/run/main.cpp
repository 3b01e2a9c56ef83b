// Process entry: everything happens in lanrefit_main, whose result is the exit code.
#include "run/runflags.h"

int main(int argc, char **argv) {
    return lanrefit_main(argc, argv);
}
