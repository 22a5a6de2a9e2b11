#include "platform/platform.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace korvex::platform {
namespace {

std::string envValue(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// Reads XDG_DOCUMENTS_DIR="..." from a user-dirs.dirs file, "$HOME" expanded.
std::string xdgDocumentsDir(const std::string& file, const std::string& home) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::string line, found;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t p = line.find_first_not_of(" \t");
    if (p == std::string::npos || line[p] == '#') continue;
    const char key[] = "XDG_DOCUMENTS_DIR=";
    if (line.compare(p, sizeof key - 1, key) != 0) continue;
    std::string value = line.substr(p + sizeof key - 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (value.compare(0, 5, "$HOME") == 0) value = home + value.substr(5);
    found = value;  // the last assignment wins, as in a shell
  }
  while (found.size() > 1 && found.back() == '/') found.pop_back();
  return found;
}

// The codeset of a locale name such as "ja_JP.SJIS@euro", upper-cased.
std::string codesetOf(const std::string& locale) {
  size_t dot = locale.find('.');
  if (dot == std::string::npos) return {};
  std::string codeset;
  for (size_t i = dot + 1; i < locale.size() && locale[i] != '@'; ++i)
    codeset += static_cast<char>(std::toupper(static_cast<unsigned char>(locale[i])));
  return codeset;
}

bool isShiftJisCodeset(const std::string& codeset) {
  return codeset == "SHIFT_JIS" || codeset == "SJIS" || codeset == "CP932" ||
         codeset == "WINDOWS-31J" || codeset == "SHIFTJIS";
}

}  // namespace

std::string documentsFolderPath() {
  std::string home = envValue("HOME");
  if (home.empty()) return {};
  std::string config = envValue("XDG_CONFIG_HOME");
  if (config.empty()) config = home + "/.config";
  std::string xdg = xdgDocumentsDir(config + "/user-dirs.dirs", home);
  if (!xdg.empty()) return xdg;
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return home + "/Documents";
}

bool consoleUsesShiftJis() {
  // The user's locale name for character types, found as setlocale(LC_CTYPE,
  // "") finds it (LC_ALL, then LC_CTYPE, then LANG), so the console follows
  // the user's choice even where that locale is not installed.
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    std::string locale = envValue(name);
    if (!locale.empty()) return isShiftJisCodeset(codesetOf(locale));
  }
  return false;
}

void setupProcessLocale() {
  if (!std::setlocale(LC_CTYPE, "")) std::setlocale(LC_CTYPE, "C");
  std::setlocale(LC_NUMERIC, "C");
}

bool isRegularFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

namespace {

// Files below this size are read: copying them costs less than mapping.
constexpr off_t kMapThreshold = 1 << 20;

// Closes a descriptor when it goes out of scope.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

FileBytes::~FileBytes() { release(); }

void FileBytes::release() {
  if (mapped_) ::munmap(const_cast<uint8_t*>(data_), size_);
  mapped_ = false;
  data_ = nullptr;
  size_ = 0;
  copy_.clear();
}

bool FileBytes::open(const std::string& path, std::string& error) {
  release();
  const FdCloser file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  struct stat info;
  if (file.fd < 0 || ::fstat(file.fd, &info) != 0) {
    error = "cannot open " + path;
    return false;
  }
  if (S_ISREG(info.st_mode) && info.st_size >= kMapThreshold &&
      static_cast<uint64_t>(info.st_size) <= SIZE_MAX) {
    const size_t size = static_cast<size_t>(info.st_size);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, file.fd, 0);
    if (map != MAP_FAILED) {
      data_ = static_cast<const uint8_t*>(map);
      size_ = size;
      mapped_ = true;
      return true;
    }
  }
  // Read to the end, whatever the file claims its size is: into the space
  // its size promises, then in steps for anything beyond it.
  copy_.resize(S_ISREG(info.st_mode) && info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0);
  size_t used = 0;
  for (;;) {
    uint8_t step[1 << 16];
    const bool full = used == copy_.size();
    const ssize_t n = full ? ::read(file.fd, step, sizeof step) : ::read(file.fd, copy_.data() + used, copy_.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      copy_.clear();
      error = "cannot read " + path;
      return false;
    }
    if (n == 0) break;
    if (full) copy_.insert(copy_.end(), step, step + n);
    used += static_cast<size_t>(n);
  }
  copy_.resize(used);
  data_ = copy_.data();
  size_ = used;
  return true;
}

void writeConsole(const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

AtomicFileWriter::~AtomicFileWriter() { discard(); }

bool AtomicFileWriter::open(const std::string& targetPath) {
  discard();
  targetPath_ = targetPath;
  tempPath_ = targetPath + ".korvex-XXXXXX";
  int fd = ::mkstemp(tempPath_.data());
  if (fd < 0) {
    tempPath_.clear();
    return false;
  }
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    ::close(fd);
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
    return false;
  }
  // mkstemp creates the file 0600; an output file gets the usual mode.
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  return true;
}

bool AtomicFileWriter::commit() {
  if (!file_) return false;
  bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
  ok = (std::fclose(file_) == 0) && ok;
  file_ = nullptr;
  if (ok) ok = std::rename(tempPath_.c_str(), targetPath_.c_str()) == 0;
  if (!ok) ::unlink(tempPath_.c_str());
  tempPath_.clear();
  return ok;
}

void AtomicFileWriter::discard() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!tempPath_.empty()) {
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
  }
}

bool writeFileAtomically(const std::string& path, const std::string& bytes) {
  AtomicFileWriter writer;
  if (!writer.open(path)) return false;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), writer.file()) != bytes.size())
    return false;
  return writer.commit();
}

}  // namespace korvex::platform
