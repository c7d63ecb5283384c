// The tool's host services on Linux.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // sched_getcpu, CPU_ALLOC
#endif
#include <errno.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include "host.h"

namespace {

// The CPU numbers the process may run on, in a set as large as the kernel's
// mask needs (machines with more than CPU_SETSIZE processors exist).
class AllowedCpus {
 public:
  AllowedCpus() {
    for (int n = CPU_SETSIZE; n <= (1 << 20); n *= 2) {
      set_ = CPU_ALLOC(n);
      if (set_ == nullptr) return;
      size_ = CPU_ALLOC_SIZE(n);
      if (sched_getaffinity(0, size_, set_) == 0) return;
      CPU_FREE(set_);
      set_ = nullptr;
      if (errno != EINVAL) return;
    }
  }
  ~AllowedCpus() {
    if (set_ != nullptr) CPU_FREE(set_);
  }
  AllowedCpus(const AllowedCpus&) = delete;
  AllowedCpus& operator=(const AllowedCpus&) = delete;

  bool known() const { return set_ != nullptr; }
  bool has(unsigned cpu) const { return cpu < 8 * size_ && CPU_ISSET_S(cpu, size_, set_); }
  size_t bits() const { return 8 * size_; }
  // Holds the calling thread on `cpu` alone.
  bool pin(unsigned cpu) const {
    cpu_set_t* one = CPU_ALLOC(bits());
    if (one == nullptr) return false;
    CPU_ZERO_S(size_, one);
    CPU_SET_S(cpu, size_, one);
    const bool held = sched_setaffinity(0, size_, one) == 0;
    CPU_FREE(one);
    return held;
  }

 private:
  cpu_set_t* set_ = nullptr;
  size_t size_ = 0;
};

// The processors the process could use when the tool began: holding the
// thread on one processor narrows its mask, and --all-cpus holds it on each
// in turn. Made once, never freed.
const AllowedCpus& initial_cpus() {
  static const AllowedCpus* const allowed = new AllowedCpus;
  return *allowed;
}

}  // namespace

bool host_pin_thread(unsigned cpu, std::string* error) {
  const AllowedCpus& allowed = initial_cpus();
  if (!allowed.known()) {
    *error = "cannot read the processors this process may use";
    return false;
  }
  if (!allowed.has(cpu)) {
    *error = "logical processor " + std::to_string(cpu) +
             " does not exist or this process may not use it";
    return false;
  }
  if (!allowed.pin(cpu)) {
    *error = "cannot hold the thread on logical processor " + std::to_string(cpu);
    return false;
  }
  return true;
}

int host_current_processor() { return sched_getcpu(); }

std::vector<unsigned> host_usable_processors() {
  const AllowedCpus& allowed = initial_cpus();
  std::vector<unsigned> cpus;
  for (unsigned cpu = 0; allowed.known() && cpu < allowed.bits(); ++cpu) {
    if (allowed.has(cpu)) cpus.push_back(cpu);
  }
  return cpus;
}

std::string host_os_text() {
  utsname u;
  if (uname(&u) != 0) return "Linux";
  return std::string(u.sysname) + " " + u.release + " " + u.version + " " + u.machine;
}

std::string host_utc_date() {
  const time_t now = time(nullptr);
  tm utc;
  char text[32];
  if (gmtime_r(&now, &utc) == nullptr ||
      strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
    return "unknown";
  return text;
}

int host_terminal_columns(FILE* out) {
  const int fd = fileno(out);
  winsize size;
  if (fd < 0 || !isatty(fd) || ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool host_is_terminal(FILE* out) { return fileno(out) >= 0 && isatty(fileno(out)) == 1; }

double host_seconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void host_binary_output(FILE*) {}

FILE* host_open_replacement(const std::string& path, std::string* temp) {
  temp->clear();
  struct stat old = {};
  const bool exists = lstat(path.c_str(), &old) == 0;
  if (exists && (!S_ISREG(old.st_mode) || access(path.c_str(), W_OK) != 0))
    return fopen(path.c_str(), "wb");
  std::string name = path + ".XXXXXX";
  const int fd = mkstemp(&name[0]);
  if (fd < 0) {
    // A folder that takes no new file may still hold a file that can be
    // written over, as before.
    return exists && (errno == EACCES || errno == EROFS) ? fopen(path.c_str(), "wb") : nullptr;
  }
  // The old file's mode, or a new file's (0666 less the umask), not mkstemp's 0600.
  mode_t mode = old.st_mode & 07777;
  if (!exists) {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  FILE* file = fchmod(fd, mode) == 0 ? fdopen(fd, "wb") : nullptr;
  if (file == nullptr) {
    const int error = errno;
    close(fd);
    unlink(name.c_str());
    errno = error;
    return nullptr;
  }
  *temp = name;
  return file;
}

bool host_replace_file(const std::string& temp, const std::string& path) {
  return rename(temp.c_str(), path.c_str()) == 0;
}
