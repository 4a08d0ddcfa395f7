// The simulated video chip's frame memory, decoded from the registers alone: the region each
// active input channel writes (five frame buffers of lines a fixed pitch apart) and the region
// each output channel reads back. It shows which input channels a read really hits, whether it
// reads memory nobody writes, whether it reads in the format the writer stored, and which
// writers write over each other.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

class VideoChipModel;

constexpr int kFrameBuffers = 5;

// Bytes n pixels take on a line in memory write/read mode 0-3 (4, 16/5, 8/3 and 2 bytes a pixel).
uint32_t memoryLineBytes(uint32_t pixels, int mode);

struct MemoryWriter {
    int ich = 0;
    uint32_t base[kFrameBuffers] = {};   // first byte of each frame buffer
    uint32_t pitch = 0;                  // bytes from one line to the next
    uint32_t bytes = 0;                  // bytes written per line
    int pixels = 0;                      // pixels written per line (after the shrink)
    int lines = 0;                       // lines written (after the shrink, both fields)
    int mode = 0;                        // write mode 0-3
    uint32_t end() const { return base[0] + (lines > 0 ? uint32_t(lines - 1) * pitch : 0) + bytes; }
};

struct MemoryRead {
    int och = 0;          // the output channel reading
    int first = 0;        // the first output channel of its grid (the one naming the input channel)
    int piece = 0;        // its place among the grid's channels, in channel order
    uint32_t start = 0;   // first byte of its first line in frame buffer 0
    int64_t step = 0;     // bytes from one line read to the next, negative when reading backward
    uint32_t bytes = 0;   // bytes read per line
    int lines = 0;
    int mode = 0;         // read mode 0-3
    std::vector<int> ichs;   // the writers whose memory the read hits, ascending
    bool unwritten = false;  // some of what it reads no input channel writes
    bool mismatch = false;   // it reads in another mode than a writer it hits wrote
    bool clean() const { return !ichs.empty() && !unwritten && !mismatch; }
};

struct MemoryMap {
    std::vector<MemoryWriter> writers;
    std::vector<MemoryRead> reads;
    std::vector<std::pair<int, int>> overlaps;   // input channels whose regions intersect
    const MemoryWriter* writer(int ich) const;
    // The reads of one output channel's grid (by its first output channel), piece order.
    std::vector<const MemoryRead*> readsOf(int firstOch) const;
};

MemoryMap decodeMemory(const VideoChipModel& chip);

// "[memory]": one line per writer, one per read, then the overlaps.
std::string describeMemory(const VideoChipModel& chip);

}  // namespace sim
