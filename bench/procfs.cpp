// Reading /proc (see procfs.hpp).
#include "bench/procfs.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "base/files.hpp"

namespace {

constexpr std::uint64_t kPresent = 1ull << 63;
constexpr std::uint64_t kFrameMask = (1ull << 55) - 1;

// The page frame that backs anonymous memory which was read but never written.
std::uint64_t ZeroPageFrame() {
  const long page = sysconf(_SC_PAGESIZE);
  void* probe = mmap(nullptr, static_cast<std::size_t>(page), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (probe == MAP_FAILED) return 0;
  volatile const char* byte = static_cast<const char*>(probe);
  (void)*byte;
  std::uint64_t entry = 0;
  int fd = open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    const auto offset = static_cast<off_t>(reinterpret_cast<std::uintptr_t>(probe) / static_cast<std::uintptr_t>(page) * 8);
    if (pread(fd, &entry, sizeof entry, offset) != sizeof entry) entry = 0;
    close(fd);
  }
  munmap(probe, static_cast<std::size_t>(page));
  return (entry & kPresent) != 0 ? entry & kFrameMask : 0;
}

}  // namespace

std::optional<std::string> ReadFile(const std::string& path) {
  std::optional<std::vector<std::uint8_t>> bytes = ReadWholeFile(path);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

std::optional<double> StatusBytes(pid_t pid, const std::string& field) {
  std::optional<std::string> status = ReadFile("/proc/" + std::to_string(pid) + "/status");
  if (!status) return std::nullopt;
  std::istringstream lines(*status);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(field + ":", 0) != 0) continue;
    std::istringstream words(line.substr(field.size() + 1));
    double kb = 0;
    if (words >> kb) return kb * 1024.0;
  }
  return std::nullopt;
}

std::optional<TThreadTimes> ThreadTimes(pid_t pid) {
  std::error_code error;
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  TThreadTimes times;
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    std::optional<std::string> schedstat = ReadFile((task.path() / "schedstat").string());
    if (!schedstat) continue;
    std::istringstream words(*schedstat);
    double runNs = 0, waitNs = 0;
    if (!(words >> runNs >> waitNs)) continue;
    times.RunMs += runNs / 1e6;
    times.WaitMs += waitNs / 1e6;
    ++times.Threads;
  }
  if (error || times.Threads == 0) return std::nullopt;
  return times;
}

TPageMap::TPageMap(pid_t pid) : ZeroFrame(ZeroPageFrame()) {
  Fd = open(("/proc/" + std::to_string(pid) + "/pagemap").c_str(), O_RDONLY | O_CLOEXEC);
}

TPageMap::~TPageMap() {
  if (Fd >= 0) close(Fd);
}

std::uint64_t TPageMap::Resident(std::uint64_t address, std::uint64_t size) const {
  if (Fd < 0 || size == 0) return 0;
  const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  const std::uint64_t first = (address + page - 1) / page;
  const std::uint64_t last = (address + size) / page;  // one past the last whole page
  std::uint64_t resident = 0;
  std::vector<std::uint64_t> entries(4096);
  for (std::uint64_t at = first; at < last; at += entries.size()) {
    const std::uint64_t count = std::min<std::uint64_t>(entries.size(), last - at);
    const ssize_t got = pread(Fd, entries.data(), count * 8, static_cast<off_t>(at * 8));
    if (got <= 0) break;
    for (std::size_t i = 0; i < static_cast<std::size_t>(got) / 8; ++i) {
      const std::uint64_t entry = entries[i];
      if ((entry & kPresent) != 0 && (ZeroFrame == 0 || (entry & kFrameMask) != ZeroFrame)) resident += page;
    }
  }
  return resident;
}

TCpuTicks CpuTicks() {
  TCpuTicks ticks;
  std::optional<std::string> stat = ReadFile("/proc/stat");
  if (!stat || stat->rfind("cpu ", 0) != 0) return ticks;
  std::istringstream words(stat->substr(4, stat->find('\n') - 4));
  std::uint64_t value = 0;
  // user nice system idle iowait irq softirq steal guest guest_nice; guest time is already
  // counted in user time.
  for (int field = 0; field < 8 && (words >> value); ++field) {
    ticks.Total += value;
    if (field == 7) ticks.Steal = value;
  }
  return ticks;
}

double StealShare(const TCpuTicks& before, const TCpuTicks& after) {
  if (after.Total <= before.Total || after.Steal < before.Steal) return 0;
  return static_cast<double>(after.Steal - before.Steal) / static_cast<double>(after.Total - before.Total);
}

std::string MachineDescription() {
  std::string model = "unknown CPU";
  if (std::optional<std::string> cpu = ReadFile("/proc/cpuinfo")) {
    std::istringstream lines(*cpu);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos) {
        model = line.substr(line.find(':') + 2);
        break;
      }
    }
  }
  std::string memory;
  if (std::optional<double> total = [] () -> std::optional<double> {
        std::optional<std::string> info = ReadFile("/proc/meminfo");
        if (!info) return std::nullopt;
        std::istringstream words(info->substr(info->find(':') + 1));
        double kb = 0;
        if (words >> kb) return kb;
        return std::nullopt;
      }()) {
    memory = std::to_string(static_cast<int>(*total / 1024.0 / 1024.0 + 0.5)) + " GB RAM";
  }
  utsname name{};
  uname(&name);
  return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " logical cores, " + memory +
         ", Linux " + name.release;
}

std::string LoadAverage() {
  std::optional<std::string> load = ReadFile("/proc/loadavg");
  if (!load) return "unknown";
  std::istringstream words(*load);
  std::string one, five, fifteen;
  words >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}
