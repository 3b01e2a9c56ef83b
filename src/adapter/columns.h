// The version columns of the report lines: three numbers each followed by a
// blank, or "- - - " where there is nothing to show.
#pragma once

#include "adapter/firmware.h"

// The head of an adapter's line: "index MAC VVVV-DDDD-SSSS-YYYY ".
void PrintAdapterIdentity(uint32_t index, const NicFwInfo &fw);
// "%d %d %d " with the three numbers.
void PrintVersion(const Version &v);
// "- - - ".
void PrintNoVersion();
// The numbers when the major number is not 0, else "- - - ".
void PrintVersionColumn(const Version &v);
void PrintVersionColumn(const Version8 &v);
