// The one place where Korvex meets the operating system: the user's
// Documents folder, the console encoding, locale set-up, and files that are
// replaced atomically. A port to another system swaps this file's .cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

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

// True when `path` names an existing regular file (not a folder, device or
// pipe), so a reader never mistakes a folder for a document.
bool isRegularFile(const std::string& path);

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

// Writes bytes to standard error and flushes.
void writeConsole(const std::string& bytes);

// A file written beside its target and renamed over it on commit(), so a
// failed or interrupted write never leaves a half-written target. The
// temporary file is removed when the writer is destroyed without commit.
class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Opens a temporary file in the target's folder; false when it cannot.
  bool open(const std::string& targetPath);
  // The open temporary file, or null.
  std::FILE* file() const { return file_; }
  // Flushes, closes and renames the temporary file over the target.
  bool commit();

 private:
  void discard();
  std::FILE* file_ = nullptr;
  std::string targetPath_;
  std::string tempPath_;
};

// Writes the whole of `bytes` to `path` atomically; false on any failure
// (the previous file, if any, is then untouched).
bool writeFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace korvex::platform
