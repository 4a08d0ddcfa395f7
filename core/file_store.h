// Whole-file writes that survive a power cut, and the pauses the board's flash wants after a sync.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

namespace filestore {

// Writes `length` bytes as the whole new content of a system path: a temporary file next to it
// (temp_path) is written, flushed and synced, renamed over the old file, and the folder is synced,
// so a power cut leaves either the old or the new file complete. Creates the missing folders,
// each synced into its parent.
// 0 on success, 255 on failure (also when the folder sync failed: the new name may not survive a
// power cut). This is the one way the system writes its files.
int write_atomic(const std::string& systemPath, const unsigned char* data, size_t length, mode_t mode = 0644);

// The temporary file write_atomic uses for a path: hidden, in the same folder (a rename does not
// cross file systems), named ".<name>.tmp".
std::string temp_path(const std::string& path);
// True for a name of the form temp_path makes (".<name>.tmp"): folder listings that look for
// received files skip them. A received file may well end in ".tmp" ("JYFRscan.tmp"): it does
// not begin with a dot, so it is listed and kept like any other.
bool is_temp_name(const std::string& name);

// Removes what power cuts left of interrupted writes (temporary files, as is_temp_name) in the
// system's data folders; the number removed. Run at start, before anything reads those folders.
int remove_stale_temps();

// Writes and removes a probe file in the data folder: false when the folder cannot take a file.
bool data_writable();

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
