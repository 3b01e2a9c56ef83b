// The process-wide adapter tables.
#include "adapter/firmware.h"
#include "adapter/inventory.h"

std::vector<NicEntry> NicTable;
uint32_t NicCount = 0;
std::vector<NicFwInfo> NicFwTable;
