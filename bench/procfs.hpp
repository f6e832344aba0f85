// What the benchmark reads from Linux's /proc about a running program and the machine: whole
// files, status fields, the resident pages of an address range (from pagemap, leaving out
// pages that only map the shared zero page), and a description of the machine.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

// The whole file, or nothing when it cannot be read.
std::optional<std::string> ReadFile(const std::string& path);

// A "Name:   123 kB" field of /proc/<pid>/status in bytes, or nothing.
std::optional<double> StatusBytes(pid_t pid, const std::string& field);

// Processor time of all the threads a process has now, from /proc/<pid>/task/*/schedstat:
// time spent running and time spent runnable but waiting for a processor.
struct TThreadTimes {
  double RunMs = 0;
  double WaitMs = 0;
  int Threads = 0;
};
std::optional<TThreadTimes> ThreadTimes(pid_t pid);

// Reads a process's page map to count the resident bytes of address ranges.
class TPageMap {
 public:
  explicit TPageMap(pid_t pid);
  ~TPageMap();
  TPageMap(const TPageMap&) = delete;
  TPageMap& operator=(const TPageMap&) = delete;

  bool Ok() const { return Fd >= 0; }
  // Bytes of the whole pages inside [address, address + size) that are present in memory
  // and not the zero page (a page that was only read, never written, is not resident).
  std::uint64_t Resident(std::uint64_t address, std::uint64_t size) const;

 private:
  int Fd = -1;
  std::uint64_t ZeroFrame = 0;
};

// The machine's processor ticks so far (all processors, from /proc/stat): in total and
// stolen by the hypervisor for other guests.
struct TCpuTicks {
  std::uint64_t Total = 0;
  std::uint64_t Steal = 0;
};
TCpuTicks CpuTicks();

// The share of the ticks between two readings that the hypervisor stole (0 to 1).
double StealShare(const TCpuTicks& before, const TCpuTicks& after);

// One line about the machine: CPU model, cores, memory, kernel.
std::string MachineDescription();

// The load averages ("1.23 0.98 0.50").
std::string LoadAverage();
