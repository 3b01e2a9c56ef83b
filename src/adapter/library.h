// Opening and closing the adapter library for a run: binding, the version
// check, initialisation, and the close on every way out.
#pragma once

#include "adapter/firmware.h"

// Result of OpenLibrary when the run may talk to the adapters.
constexpr int LIBRARY_OPEN = -1;

// Binds the library, refuses a version below lowest (the message names
// named as the version expected) and initialises it. Returns LIBRARY_OPEN, or
// the exit code the run ends with (the message, if any, is printed).
int OpenLibrary(const Version &lowest, const Version &named);

// Closes an open library (OmbriUninitialize, then unbinds it) and returns
// exit_code, so that a way out reads "return CloseLibrary(code);".
int CloseLibrary(int exit_code);
