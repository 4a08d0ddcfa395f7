// The durability steps of the file layer (flush a file, rename it, flush a folder), and on the
// simulated board a model of a power cut that keeps only what those steps made durable.
//
// The model, once watching, takes every file and folder under the root as durable. After that a
// file's content becomes durable when the file is synced, and a folder's names (new, renamed,
// removed files and folders) when the folder is synced; cutPower() puts everything under the root
// back to that durable state: unsynced names go (a folder with all it holds), renames without a
// folder sync are undone, a name that was made durable before its data keeps an empty file, and a
// file written in place since its last sync gets its old content back or, when asked, is cut
// short as a write stopped half way leaves it.
#pragma once

#include <cstddef>
#include <string>

namespace platform::files {

// The folder holding `path` ("." for a bare name, "/" for a name at the top).
std::string parentOf(const std::string& path);
// fsync of an open file whose real path is `path`; true on success.
bool syncFile(int fd, const std::string& path);
// rename(2) of real paths; true on success.
bool rename(const std::string& from, const std::string& to);
// fsync of a folder (real path); true on success.
bool syncDir(const std::string& dir);

// write(2) of all `length` bytes of an open file (again on EINTR); false on an error, errno
// telling it.
bool writeAll(int fd, const void* data, size_t length);
// close(2) of a file written through writeAll: false when the file system reports there what it
// could not write (errno telling it); the descriptor is closed either way.
bool closeWritten(int fd);

// Test back door of the simulated board: a folder sync fails (as on a failing flash).
void failDirSyncs(bool fail);
// Test back door: the file layer fails as a full disk does (ENOSPC). `bytes`: the next writes
// fail until that many bytes were refused (then there is room again); `flushes`, `syncs`,
// `renames`: the next that many closes of a written file, file syncs and renames fail.
struct DiskFull {
    size_t bytes = 0;
    int flushes = 0, syncs = 0, renames = 0;
};
void failAsFull(const DiskFull& full);

// Starts watching the current root (simulated board only; false on the board).
bool watchPowerCuts();
// What a power cut leaves of a file written in place (not renamed into place) without a sync.
enum class InPlace {
    RollBack,   // its durable content
    CutShort,   // the first half of what it holds now
};
// Drops everything under the root that was not made durable, then watches on from there.
void cutPower(InPlace inPlace = InPlace::RollBack);
// Stops watching, forgets, and lets folder syncs succeed again.
void stopWatching();

}  // namespace platform::files
