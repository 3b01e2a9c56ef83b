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

// Result of EnumerateAdapters and BuildFirmwareTable when a table could not be
// created for want of memory. The routine has printed "Not enough memory for
// the adapter tables.\r\n" in red and left NicCount at 0, so that a caller that
// only tests NicCount treats the run as one without adapters; callers that
// test the result end the run with exit code 0 instead.
constexpr int ADAPTER_OUT_OF_MEMORY = -1;

// Prints the red out-of-memory message of the adapter tables.
void ReportAdapterTablesNoMemory();
