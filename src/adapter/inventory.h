// The inventory of supported adapter ports: one NicEntry per port in NicTable.
#pragma once

#include <cstdint>
#include <vector>

#include "adapter/ombri.h"

struct NicEntry {
    NicAuxInfo Aux;    // as the library returned it
    NicInfo Info;      // as the library returned it
    uint32_t DiagOpen; // 1 while the port is in diagnostic mode
};

extern std::vector<NicEntry> NicTable; // in handle order, dropped ports left out
extern uint32_t NicCount;              // 0: no supported adapter

// Builds NicTable and NicCount. Returns 1 when at least one port was kept.
int EnumerateAdapters();
