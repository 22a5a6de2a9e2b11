#include "platform/platform.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

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

// An open file descriptor, closed when it goes out of scope.
struct Descriptor {
  explicit Descriptor(int descriptor = -1) : fd(descriptor) {}
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int fd;
};

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

std::string systemReason(int error) { return std::strerror(error); }

Status checkRegularFile(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0)
    return Status::failure(Status::Code::kSystem, "", "cannot open " + path + ": " + systemReason(errno));
  if (S_ISREG(info.st_mode)) return Status::ok();
  const char* what = S_ISDIR(info.st_mode)                            ? "a folder"
                     : S_ISFIFO(info.st_mode)                         ? "a named pipe (FIFO)"
                     : S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? "a device"
                     : S_ISSOCK(info.st_mode)                         ? "a socket"
                                                                      : "not a regular file";
  return Status::failure(Status::Code::kNotAFile, "", path + " is " + what + ", not a file");
}

bool isRegularFile(const std::string& path) { return static_cast<bool>(checkRegularFile(path)); }

Status readFileStart(const std::string& path, size_t count, std::string& bytes) {
  bytes.clear();
  Status regular = checkRegularFile(path);
  if (!regular) return regular;
  // Without blocking: should the path have become a pipe since the check,
  // the open does not wait for a writer.
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.fd < 0)
    return Status::failure(Status::Code::kSystem, "", "cannot open " + path + ": " + systemReason(errno));
  struct stat info;
  if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode))
    return Status::failure(Status::Code::kNotAFile, "", path + " is not a regular file");
  std::string read(count, '\0');
  size_t got = 0;
  while (got < count) {
    const ssize_t n = ::read(file.fd, &read[got], count - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      return Status::failure(Status::Code::kSystem, "", "cannot read " + path + ": " + systemReason(errno));
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  read.resize(got);
  bytes = std::move(read);
  return Status::ok();
}

Status createFolders(const std::string& path) {
  if (path.empty()) return Status::ok();
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error)
    return Status::failure(Status::Code::kSystem, "", "cannot create the folder " + path + ": " + error.message());
  // create_directories accepts an existing folder; a file of that name is no folder.
  if (!std::filesystem::is_directory(path, error))
    return Status::failure(Status::Code::kNotAFile, "", path + " is not a folder");
  return Status::ok();
}

namespace {

// Files below this size are read: copying them costs less than mapping.
constexpr off_t kMapThreshold = 1 << 20;

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
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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

namespace {

// The size of a transparent huge page (x86-64 and arm64 with 4 KiB pages).
constexpr size_t kHugePage = size_t{2} << 20;
// An arena's blocks double from the first to the largest: a small
// document's few buffers take small pages, a large one's soon huge ones.
constexpr size_t kFirstArenaBlock = size_t{256} << 10;
constexpr size_t kLargestArenaBlock = size_t{64} << 20;

// `bytes` rounded up to whole pages; `bytes` is at most SIZE_MAX less a
// huge page.
size_t wholePages(size_t bytes) {
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return (bytes + page - 1) / page * page;
}

}  // namespace

PageBlock::~PageBlock() { release(); }

PageBlock::PageBlock(PageBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

PageBlock& PageBlock::operator=(PageBlock&& other) noexcept {
  if (this != &other) {
    release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

void PageBlock::release() {
  if (data_) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

bool PageBlock::allocate(size_t bytes) {
  release();
  if (bytes == 0) return true;
  if (bytes > SIZE_MAX - 2 * kHugePage) return false;
  const size_t size = wholePages(bytes);
  // A huge block is mapped with room to start on a 2 MiB boundary; the
  // slack on either side goes back at once.
  const bool huge = size >= kHugePage;
  const size_t span = huge ? size + kHugePage : size;
  void* map = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) return false;
  uint8_t* start = static_cast<uint8_t*>(map);
  if (huge) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(start);
    uint8_t* aligned = start + ((kHugePage - address % kHugePage) % kHugePage);
    if (aligned > start) ::munmap(start, static_cast<size_t>(aligned - start));
    const size_t tail = span - static_cast<size_t>(aligned - start) - size;
    if (tail > 0) ::munmap(aligned + size, tail);
    start = aligned;
    // Only advice: refused where huge pages are not available.
    ::madvise(start, size, MADV_HUGEPAGE);
  }
  data_ = start;
  size_ = size;
  return true;
}

uint8_t* PageArena::allocate(size_t bytes) {
  constexpr size_t kAlign = 64;
  if (bytes > SIZE_MAX - kAlign) return nullptr;
  const size_t need = (bytes + kAlign - 1) / kAlign * kAlign;
  if (blocks_.empty() || blocks_.back().pages.size() - blocks_.back().used < need) {
    // The block left behind keeps only what it handed out.
    if (!blocks_.empty()) trimBlock(blocks_.back());
    const size_t next = blocks_.empty() ? kFirstArenaBlock
                                        : std::min(2 * blocks_.back().pages.size(), kLargestArenaBlock);
    Block block;
    if (!block.pages.allocate(std::max(need, next))) return nullptr;
    blocks_.push_back(std::move(block));
  }
  Block& last = blocks_.back();
  uint8_t* p = last.pages.data() + last.used;
  last.used += need;
  return p;
}

void PageArena::trim() {
  for (Block& b : blocks_) trimBlock(b);
}

void PageArena::trimBlock(Block& b) {
  const size_t kept = wholePages(b.used);
  if (kept < b.pages.size()) ::madvise(b.pages.data() + kept, b.pages.size() - kept, MADV_DONTNEED);
}

void writeConsole(const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

namespace {

// The temporaries of the run, in a form the signal handler can read: fixed
// slots of zero-terminated paths. A slot's path is complete before the slot
// is marked used, and the mark is cleared before the path changes.
constexpr int kMaxTemporaries = 16;
char gTemporaryPaths[kMaxTemporaries][PATH_MAX];
volatile std::sig_atomic_t gTemporaryUsed[kMaxTemporaries];

extern "C" void removeTemporariesAndDie(int signalNumber) {
  for (int i = 0; i < kMaxTemporaries; ++i)
    if (gTemporaryUsed[i]) ::unlink(gTemporaryPaths[i]);
  // Only unlink, signal and raise here: all async-signal-safe.
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
}

void installSignalHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action = {};
  action.sa_handler = removeTemporariesAndDie;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

int claimSlot(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kMaxTemporaries; ++i) {
    if (gTemporaryUsed[i]) continue;
    std::memcpy(gTemporaryPaths[i], path.c_str(), path.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    gTemporaryUsed[i] = 1;
    return i;
  }
  return -1;
}

void releaseSlot(int slot) {
  if (slot >= 0) gTemporaryUsed[slot] = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

// SIGINT and SIGTERM held back while it lives.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace

OutputSet::~OutputSet() {
  for (Entry& entry : entries_) discard(entry);
}

void OutputSet::discard(Entry& entry) {
  if (!entry.temp.empty()) ::unlink(entry.temp.c_str());
  releaseSlot(entry.slot);
  entry.slot = -1;
  entry.temp.clear();
}

Status OutputSet::add(const std::string& target, const std::string& failureMessage, const Writer& write) {
  auto fail = [&](Status::Code code, const std::string& reason) {
    return Status::failure(code, failureMessage, reason);
  };
  struct stat info;
  if (::stat(target.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    Status notFile = checkRegularFile(target);
    return fail(notFile.code(), notFile.reason());
  }
  installSignalHandlers();
  Entry entry;
  entry.target = target;
  entry.failureMessage = failureMessage;
  std::string temp = target + ".korvex-XXXXXX";
  Descriptor created;
  {
    // The temporary's name enters the handler's table as it comes to exist.
    SignalsHeld held;
    created.fd = ::mkstemp(temp.data());
    if (created.fd < 0)
      return fail(Status::Code::kSystem, "cannot create a file beside " + target + ": " + systemReason(errno));
    entry.temp = temp;
    entry.slot = claimSlot(temp);
  }
  if (entry.slot < 0) {
    discard(entry);
    return fail(Status::Code::kLimit, "too many output files in one run");
  }
  // mkstemp creates the file 0600; an output file gets the usual mode.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(created.fd, 0666 & ~mask);
  std::FILE* file = ::fdopen(created.fd, "wb");
  if (!file) {
    const int error = errno;
    discard(entry);
    return fail(Status::Code::kSystem, "cannot write " + target + ": " + systemReason(error));
  }
  created.fd = -1;  // the stream owns it now
  errno = 0;
  const bool written = write(file);
  const int writeError = std::ferror(file) ? errno : 0;
  const bool flushed = std::fflush(file) == 0;
  const int flushError = flushed ? 0 : errno;
  const bool closed = std::fclose(file) == 0;
  const int closeError = closed ? 0 : errno;
  if (written && flushed && closed) {
    entries_.push_back(std::move(entry));
    return Status::ok();
  }
  discard(entry);
  const int error = writeError ? writeError : flushError ? flushError : closeError;
  return fail(Status::Code::kSystem, error ? "cannot write " + target + ": " + systemReason(error)
                                           : "the data for " + target + " could not be encoded");
}

Status OutputSet::commit() {
  SignalsHeld held;
  // Each existing target keeps a second name until every rename is done, so
  // a failed rename can put it back.
  std::vector<std::string> backups(entries_.size());
  auto dropBackups = [&] {
    for (const std::string& backup : backups)
      if (!backup.empty()) ::unlink(backup.c_str());
  };
  auto failAt = [&](size_t index, const std::string& reason) {
    dropBackups();
    for (Entry& entry : entries_) discard(entry);
    Status failure = Status::failure(Status::Code::kSystem, entries_[index].failureMessage, reason);
    entries_.clear();
    return failure;
  };
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (!isRegularFile(entries_[i].target)) continue;
    backups[i] = entries_[i].temp + ".old";
    if (::link(entries_[i].target.c_str(), backups[i].c_str()) != 0) {
      const int error = errno;
      backups[i].clear();
      return failAt(i, "cannot keep " + entries_[i].target + " while replacing it: " + systemReason(error));
    }
  }
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (std::rename(entries_[i].temp.c_str(), entries_[i].target.c_str()) == 0) continue;
    const int error = errno;
    for (size_t j = 0; j < i; ++j) {
      if (backups[j].empty()) {
        ::unlink(entries_[j].target.c_str());
        continue;
      }
      // Should even this fail, the earlier file stays under its second name.
      std::rename(backups[j].c_str(), entries_[j].target.c_str());
      backups[j].clear();
    }
    return failAt(i, "cannot replace " + entries_[i].target + ": " + systemReason(error));
  }
  dropBackups();
  for (Entry& entry : entries_) {
    entry.temp.clear();  // in place now: nothing to remove
    releaseSlot(entry.slot);
  }
  entries_.clear();
  return Status::ok();
}

}  // namespace korvex::platform
