// The one place where Korvex meets the operating system: the user's
// Documents folder, the console encoding, locale set-up, what a path names,
// and output files put in place together. A port to another system swaps
// this file's .cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/status.h"

namespace korvex::platform {

// The user's Documents folder without a trailing separator, or "" when it
// cannot be found. XDG_DOCUMENTS_DIR from $XDG_CONFIG_HOME/user-dirs.dirs
// (default $HOME/.config/user-dirs.dirs, "$HOME" expanded) when that file
// sets it, else $HOME/Documents. Empty when HOME is unset or empty. The
// folder need not exist.
std::string documentsFolderPath();

// True when the user's locale (LC_ALL, else LC_CTYPE, else LANG) names a
// Shift_JIS codeset (SHIFT_JIS, SJIS, CP932, WINDOWS-31J), installed or not;
// the console then takes Shift_JIS, otherwise UTF-8 (also under C or POSIX).
bool consoleUsesShiftJis();

// Locale set-up at start-up: LC_CTYPE from the user's environment,
// LC_NUMERIC stays "C" so "%f" always prints a decimal point.
void setupProcessLocale();

// The system's text for the errno value `error` ("No such file or directory").
std::string systemReason(int error);

// Ok when `path` names an existing regular file. Otherwise why not: the
// system's reason ("cannot open PATH: No such file or directory"), or what
// the path names instead ("PATH is a folder, not a file"; a named pipe or a
// device likewise), found without opening it, so a pipe never blocks.
Status checkRegularFile(const std::string& path);

// True when `path` names an existing regular file (not a folder, device or
// pipe), so a reader never mistakes a folder for a document.
bool isRegularFile(const std::string& path);

// Reads the first `count` bytes of the regular file at `path` into `bytes`
// (fewer when the file is shorter). Opened without blocking, so a pipe
// never holds the caller up; anything but a regular file is refused.
Status readFileStart(const std::string& path, size_t count, std::string& bytes);

// Creates the folder `path` and every missing parent; ok when it exists.
Status createFolders(const std::string& path);

// A file's bytes, read-only, for the life of the object. A large regular
// file is mapped (its pages populated in one go, no copy); a small file, or
// one the system cannot map, is read into memory. The trade-off: a mapped
// file that another program truncates while Korvex reads it stops Korvex
// with SIGBUS instead of an error; input documents are not expected to
// change during a conversion, and small files (where copying costs
// nothing) never take the risk.
class FileBytes {
 public:
  FileBytes() = default;
  ~FileBytes();
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  // False with `error` ("cannot open PATH" / "cannot read PATH") when the
  // file cannot be read.
  bool open(const std::string& path, std::string& error);
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool mapped() const { return mapped_; }

 private:
  void release();
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
  std::vector<uint8_t> copy_;
};

// A block of memory taken straight from the system in whole pages, for
// large pixel buffers; given back when the object goes. Fresh pages cost a
// fault each on first touch (a large share of the time a big document
// takes), so a block of 2 MiB or more starts on a 2 MiB boundary and asks
// for transparent huge pages: the system then faults it in 2 MiB at a
// time. Where huge pages are off, it is ordinary memory. The contents
// start as zeros.
class PageBlock {
 public:
  PageBlock() = default;
  ~PageBlock();
  PageBlock(PageBlock&& other) noexcept;
  PageBlock& operator=(PageBlock&& other) noexcept;
  PageBlock(const PageBlock&) = delete;
  PageBlock& operator=(const PageBlock&) = delete;

  // Replaces the block with one of at least `bytes` bytes (none for 0).
  // False, with no block, when the system has no memory for it.
  bool allocate(size_t bytes);
  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  void release();
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// Buffers that live as long as the arena, laid one after another in large
// page blocks, so that many buffers share huge pages instead of each
// faulting in its own small ones. The untouched rest of a block takes no
// memory, and a block left for a new one keeps only what it handed out.
class PageArena {
 public:
  // `bytes` of zeros, 64-byte aligned; null when the system has no memory
  // for it.
  uint8_t* allocate(size_t bytes);
  // Gives back the pages past the buffers handed out: the huge page a
  // block's last buffer ends in is otherwise kept whole. Buffers allocated
  // later are zeros as ever.
  void trim();

 private:
  struct Block {
    PageBlock pages;
    size_t used = 0;  // bytes handed out
  };
  static void trimBlock(Block& block);
  std::vector<Block> blocks_;
};

// Writes bytes to standard error and flushes.
void writeConsole(const std::string& bytes);

// The output files of one run, put in place together. Each file is written
// to a temporary file beside its target; commit() renames all of them over
// their targets, or, when one rename fails, puts every target it had
// replaced back as it was. Temporaries that were not committed are removed
// when the set is destroyed, and on SIGINT or SIGTERM (the handler removes
// them, then ends the process by that signal).
class OutputSet {
 public:
  OutputSet() = default;
  ~OutputSet();
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  // Writes a file's bytes to the open file; false when it could not.
  using Writer = std::function<bool(std::FILE*)>;

  // Writes the temporary file for `target` through `write`, given the open
  // file (false when writing failed). On any failure nothing of it is left
  // and the status carries `failureMessage` (the writer's own message for
  // `target`) and the reason; commit() reports a failed rename of `target`
  // with the same message.
  Status add(const std::string& target, const std::string& failureMessage, const Writer& write);
  // Puts every temporary in place, all or none. SIGINT and SIGTERM wait
  // until it is done.
  Status commit();

 private:
  struct Entry {
    std::string target;
    std::string temp;
    std::string failureMessage;
    int slot = -1;  // its place in the table the signal handler reads
  };
  void discard(Entry& entry);
  std::vector<Entry> entries_;
};

}  // namespace korvex::platform
