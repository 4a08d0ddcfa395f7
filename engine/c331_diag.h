// The register dump list of the video chip: one register id (bank << 16 | address << 8 | byte
// count) per entry, in dump order.
#pragma once

#include <cstdint>
#include <vector>

std::vector<uint32_t> c331DumpList();
