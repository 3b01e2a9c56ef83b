// Definitions of the process-wide run word, argument texts and adapter index.
#include "base/runflags.h"

uint32_t RunFlags = 0;
const char *ImageFileArg = nullptr;
const char *MacFilterArg = nullptr;
const char *RestoreFileArg = nullptr;
uint32_t CurrentNic = 0;
