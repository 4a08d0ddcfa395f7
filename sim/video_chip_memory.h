// The simulated video chip's frame memory, decoded from the registers alone: the region each
// active input channel writes (five frame buffers of lines a fixed pitch apart), the fields its
// input processor keeps, and the region each output channel reads back in each of the five
// buffers. It shows which input channels a read really hits, whether it reads memory nobody
// writes, whether it reads in the format the writer stored, whether a mirrored grid shows each
// part of the picture where it belongs, which writers write over each other, which writer or read
// has a frame buffer outside the memory map's frame buffer of the same index or runs out of it,
// which writer's lines leave the part of a line the memory map gives its channel, which channel
// weaves fields of a V-by-One source, and which reads the channel's background covers.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

class VideoChipStill;

constexpr int kFrameBuffers = 5;
constexpr int kUnknownMode = -1;   // a write or read mode code the chip does not know

// Bytes n pixels take on a line in memory write/read mode 0-3 (4, 16/5, 8/3 and 2 bytes a pixel);
// an unknown mode counts 4 bytes a pixel.
uint32_t memoryLineBytes(uint32_t pixels, int mode);
// The pixels whose bytes fill `bytes` bytes of a line in that mode.
uint32_t memoryLinePixels(uint32_t bytes, int mode);
// The mode 0-3 of a write or read mode register's code, kUnknownMode for any other code.
int memoryModeOfCode(uint8_t code);

// One region of the chip's memory map: the five plain frame buffers, the five dot-by-dot ones,
// and the areas of the on-screen display and its fonts.
struct MemoryRegion {
    const char* name;
    int index;       // buffer index of a frame buffer, -1 for the other areas
    uint32_t begin, end;
    bool frames;     // a frame buffer, where pictures are stored
    uint32_t slot;   // bytes of each channel's part of a line (its slot), 0 where lines are not divided
};

// Where a writer or a read runs out of the region its buffer starts in, or starts in the frame
// buffer of another index: the first buffer that does, the region (null when the buffer starts
// outside the memory map) and the lines outside.
struct RegionLeak {
    int buffer = -1;
    const MemoryRegion* region = nullptr;
    int lines = 0;
    bool misplaced = false;   // the region is the frame buffer of another index
    bool any() const { return buffer >= 0; }
};

// Where a writer's or field store's lines leave their place on a line: in a plain frame buffer
// the slot of the channel writing (both slots of a pair in dual mode), in a dot-by-dot one the
// band of one line pitch each line starts in. The first buffer that does, the slot a line lies
// in when it is not the channel's own, or the bytes a line runs past the end.
struct SlotLeak {
    int buffer = -1;
    int first = -1, count = 0;   // the slots it may use; none: a band
    int stray = -1;              // a slot a line starts in that is not its own, -1 none
    uint32_t bytes = 0;          // bytes a line runs past its slots or band
    bool any() const { return buffer >= 0; }
};

struct MemoryWriter {
    int ich = 0;
    uint32_t base[kFrameBuffers] = {};   // first byte of each frame buffer
    uint32_t pitch = 0;                  // bytes from one line to the next
    uint32_t bytes = 0;                  // bytes written per line
    int pixels = 0;                      // pixels written per line (after the shrink)
    int lines = 0;                       // lines written (after the shrink, both fields)
    int mode = 0;                        // write mode 0-3, kUnknownMode
    uint8_t modeCode = 0;                // the register's code
    int port = -1;                       // the chip port its source takes, -1 none
    bool frozen = false;                 // it holds its last frame
    int dualWith = -1;                   // the other channel of its pair in dual mode
    bool dualApart = false;              // the pair's halves are not stored side by side
    bool pairSlots = false;              // may use both slots of its pair: in dual mode, or the
                                         // pair carries the two halves of one V-by-One receiver
    bool weavesVbo = false;              // weaves two fields a frame of a V-by-One source, which
                                         // sends whole frames: a fault
    RegionLeak leak;
    SlotLeak slotLeak;
    uint32_t end() const { return base[0] + (lines > 0 ? uint32_t(lines - 1) * pitch : 0) + bytes; }
};

// The fields an input processor keeps of an interlaced input (bank 0x17): four field buffers it
// writes, the four it reads back.
struct FieldStore {
    static constexpr int kBuffers = 4;
    int ich = 0;
    uint32_t base[kBuffers] = {};
    uint32_t pitch = 0;
    uint32_t bytes = 0;
    int lines = 0;                       // lines of one field
    bool strayRead = false;              // it reads a field buffer it does not write
    RegionLeak leak;                     // its buffers may lie in any frame buffer
    SlotLeak slotLeak;
};

struct MemoryRead {
    int och = 0;          // the output channel reading
    int first = 0;        // the first output channel of its grid (the one naming the input channel)
    int piece = 0;        // its place among the grid's channels, in channel order
    uint32_t start = 0;   // first byte of its first line in frame buffer 0
    uint32_t starts[kFrameBuffers] = {};   // the same in each frame buffer
    int64_t step = 0;     // bytes from one line read to the next, negative when reading backward
    uint32_t bytes = 0;   // bytes read per line
    int pixels = 0;       // stored pixels read per line
    int lines = 0;
    int mode = 0;         // read mode 0-3, kUnknownMode
    uint8_t modeCode = 0;
    int position = 0;     // panel position it is mixed at (its channel when it is in no mixer)
    bool mirrored = false;   // reads its lines right to left
    std::vector<int> ichs;   // the writers whose memory the read hits in any buffer, ascending
    bool unwritten = false;  // some of what it reads, in some buffer, no input channel writes
    bool mismatch = false;   // it reads in another mode than a writer it hits wrote
    bool wrongPart = false;  // it shows another part of the picture than its place in the grid,
                             // across its row or down its column
    bool covered = false;    // the channel shows its background colour over what it reads (an
                             // input without signal, a window set black): nothing of the memory
                             // it reads is seen, so none of it is judged
    int y = 0, height = 0;   // its vertical place inside its channel's cell, output lines
    RegionLeak leak;
    bool clean() const
    {
        if (covered)
            return true;
        return !ichs.empty() && !unwritten && !mismatch && !wrongPart && !leak.any() && mode != kUnknownMode;
    }
};

struct MemoryMap {
    std::vector<MemoryWriter> writers;
    std::vector<FieldStore> fields;
    std::vector<MemoryRead> reads;
    std::vector<std::pair<int, int>> overlaps;   // input channels whose regions intersect
    const MemoryWriter* writer(int ich) const;
    // The reads of one output channel's grid (by its first output channel), piece order.
    std::vector<const MemoryRead*> readsOf(int firstOch) const;
    // Every writer and field store stays in its region and its slots or band, pairs are stored
    // side by side, modes are known, only parallel sources are woven and field buffers are read
    // where they are written.
    bool writersSound() const;
};

MemoryMap decodeMemory(const VideoChipStill& chip);

// "[memory]": one line per writer and field store, one per read, one per fault of a writer,
// then the overlaps.
std::string describeMemory(const VideoChipStill& chip);

}  // namespace sim
