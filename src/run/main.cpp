// Process entry: the library search is restricted before anything else runs,
// then everything happens in lanrefit_main, whose result is the exit code.
#include "platform/platform.h"
#include "run/runflags.h"

int main(int argc, char **argv) {
    // Whether Windows could restrict it or not, the adapter library is
    // loaded by its full path only.
    plat_restrict_library_search();
    return lanrefit_main(argc, argv);
}
