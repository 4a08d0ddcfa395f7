// Whole-file writes that survive a power cut, and the pauses the board's flash wants after a sync.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace filestore {

// Writes `length` bytes as the whole new content of a system path: a temporary file next to it
// (temp_path) is written, flushed and synced, renamed over the old file, and the folder is synced,
// so a power cut leaves either the old or the new file complete. Creates the missing folders,
// each synced into its parent.
// 0 on success, 255 on failure (also when the folder sync failed: the new name may not survive a
// power cut). A link at the path is followed: the file it names is replaced (the temporary file
// goes to that file's folder), and the link stays. This is the one way the system writes its files.
int write_atomic(const std::string& systemPath, const unsigned char* data, size_t length, mode_t mode = 0644);

// Writes `bytes` in place as the whole content of a scratch file at a system path (its missing
// folders made), each write, the sync and the close checked and the result read back: false (and
// no file) when the file does not hold them.
bool write_scratch(const std::string& systemPath, const std::string& bytes);

// The temporary file write_atomic uses for a path: hidden, in the same folder (a rename does not
// cross file systems), named ".<name>.tmp".
std::string temp_path(const std::string& path);
// True for a name of the form temp_path makes (".<name>.tmp"): folder listings that look for
// received files skip them. A received file may well end in ".tmp" ("JYFRscan.tmp"): it does
// not begin with a dot, so it is listed and kept like any other.
bool is_temp_name(const std::string& name);

// Removes what power cuts left of interrupted writes in the system's data folders: the temporary
// files of the files the box itself writes there (their names built from those files' names), never
// a file of the user's that only looks like one; the number removed. Run at start, before anything
// reads those folders.
int remove_stale_temps();

// Writes and removes a probe file in the data folder: false when the folder cannot take a file.
bool data_writable();

// What a reader found at a system path.
enum class Found {
    Missing,    // nothing there
    File,       // a regular file, read
    Unusable,   // something the box cannot take as its file: a folder, a FIFO, a device, a link
                // that leads nowhere, a file that does not open or read, or one far too large
};

// Reads up to `capacity` bytes of a regular file at a system path into `out` (`got`: the number
// read). The file is opened without blocking, so a FIFO or a device in its place is never waited
// on; nothing throws. `why`, when given, says what made the file unusable.
Found read_regular(const std::string& systemPath, unsigned char* out, size_t capacity, size_t& got,
                   std::string* why = nullptr);
// The whole content of a regular file; a file larger than `limit` bytes is unusable (unless the rest
// is NUL padding, see kMaxPadding).
Found read_whole(const std::string& systemPath, std::string& out, size_t limit, std::string* why = nullptr);

// The most the box reads of its settings and JSON files (received ones are no larger).
constexpr size_t kMaxTextFile = 1024 * 1024;
// read_whole of one of the box's text files: one that cannot be used is set aside (nothing written
// in its place; `instead` says what the box does without it). File or Missing.
Found read_text_file(const std::string& systemPath, std::string& out, const std::string& instead);

// A file over a reader's limit is still read when all past the limit is NUL bytes (a power cut's
// padding), as its content without them; a file larger than this is unusable all the same.
constexpr uint64_t kMaxPadding = 64ull * 1024 * 1024;

// Reads up to `capacity` bytes of a system path into `out`; the number read, or -1 when there is
// no regular file that reads.
long read_file(const std::string& systemPath, unsigned char* out, size_t capacity);

// A file the box reads and cannot use (unusable as above, or damaged inside) is set aside: kept
// as "<name>.bad" and, when that one is taken, "<name>.bad.2" up to "<name>.bad.<kKeptCopies>";
// the first copy is never overwritten nor removed, a content already kept is not kept twice, and
// only the last copy gives way when all are taken. With a `replace` (which writes what the box
// uses instead) a regular file is copied and `replace` then writes over it, so the file's own name
// holds the user's content until the replacement has taken it; anything else is moved. Then one
// line on stderr says so whatever the diagnostics switch, naming the file and its copy where the
// user finds them, and the home page says the file was replaced, and where its copy is, until
// saved() is called for it. `why` follows the file's name in the line ("is a folder, not a file"),
// `instead` says what the box uses. `noRoom` says what is done with a file there is no room to copy.
enum class NoRoom {
    Move,      // moved aside, then replaced
    Replace,   // the replacement is made of what the file holds: left under its name and replaced
    Leave,     // left under its name as it is, the replacement not made (it would lose the file's values)
    Use,       // left under its name as it is, the replacement not made; the box uses what it holds
};
void set_aside(const std::string& systemPath, const std::string& why, const std::string& instead,
               const std::function<void()>& replace = {}, NoRoom noRoom = NoRoom::Move);
// The user's content reached the file again: the home page stops saying that it was replaced.
void saved(const std::string& systemPath);
// Says again, at start, each file of the data folders that set_aside replaced at an earlier start
// and that no save has reached since (a hidden record beside it, ".<name>.replaced", kept from
// the set-aside until saved(), holds the copy and the line said); one already said at this start
// is not said twice. The number of files said.
int restate_replaced();
// How many copies set_aside keeps of one file.
constexpr int kKeptCopies = 4;
// Copy n (1 to kKeptCopies) of a path set aside: "<path>.bad", then "<path>.bad.<n>".
std::string kept_path(const std::string& path, int n);
// The first copy ("<path>.bad").
std::string bad_path(const std::string& path);

// The JSON document at the start of `text`: through the end of its first complete object or array
// (strings and their escapes skipped), so that padding a file carries after it (NUL bytes, an
// end-of-file mark) does not make the user's file unreadable. The whole text when it holds no
// complete object or array, for the parser to say what is wrong.
std::string json_document(const std::string& text);

// The deepest nesting and the longest text the box reads of a JSON file. Its own files (the OSD
// menu, the aliases) nest four levels and hold texts of a few KiB; the JSON reader recurses once
// per level, so a deeper file would use up a thread's stack.
constexpr size_t kMaxJsonDepth = 32;
constexpr size_t kMaxJsonString = 64 * 1024;
// Empty when `text` stays within those bounds (strings and their escapes skipped); otherwise what
// is beyond them, to follow the file's name. Checked before a JSON reader sees the text.
std::string json_beyond_bounds(const std::string& text);
// The JSON document of a file's `text` (json_document) when it stays within those bounds; false
// otherwise, the file then set aside as one that "cannot be used as <use>", `instead` saying what
// the box uses.
bool bounded_json_document(const std::string& systemPath, const std::string& text, const std::string& use,
                           const std::string& instead, std::string& document);

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
