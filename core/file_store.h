// Whole-file writes that survive a power cut, and the pauses the board's flash wants after a sync.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace filestore {

// Writes `length` bytes as the whole new content of a system path: a temporary file next to it
// is written, flushed and synced, then renamed over the old file, so a power cut leaves either
// the old or the new file complete. Creates the parent folder. 0 on success, 255 on failure
// (the old file is left as it was).
int write_atomic(const std::string& systemPath, const unsigned char* data, size_t length);

// Reads up to `capacity` bytes of a system path into `out`; the number read, or -1 when the file
// does not open.
long read_file(const std::string& systemPath, unsigned char* out, size_t capacity);

// Pause after a "sync" so the board's flash settles; nothing on the simulated board.
void settle_us(unsigned int usec);

// The pause the board's flash wants after a file was saved.
constexpr unsigned int kSyncSettleUs = 100000;
// Runs "sync" through the shell, then settle_us(usec).
void sync_and_settle(unsigned int usec = kSyncSettleUs);

// Test back door: when set, it is called with the temporary file's path after that file is
// complete and before the rename; returning false abandons the write there, as a power cut would.
extern std::function<bool(const std::string& tempPath)> before_rename;

}  // namespace filestore
