// libkelvo-allocprobe.so: a measuring shim loaded with LD_PRELOAD that logs every heap block
// of 1 MiB or more, so the benchmark can tell whose buffers the resident memory is made of.
// With KELVO_BENCH_ALLOC_LOG=<file> set, each such allocation appends the line
//   "A <address> <size> <caller>\n"   (hexadecimal address and caller, decimal size)
// and freeing one of them (or moving it with realloc) appends "F <address>\n". The caller is
// the return address into the code that asked for the block; the benchmark maps it to a
// file with /proc/<pid>/maps. Everything is forwarded to glibc's own allocator
// (__libc_malloc and friends), so nothing here allocates.
#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* block);
}

namespace {

constexpr std::size_t kLoggedSize = 1u << 20;
constexpr int kTracked = 8192;

pthread_mutex_t Lock = PTHREAD_MUTEX_INITIALIZER;
int LogFd = -2;  // -2: not opened yet, -1: logging off
void* Tracked[kTracked];

int Log() {
  if (LogFd == -2) {
    const char* path = std::getenv("KELVO_BENCH_ALLOC_LOG");
    LogFd = path == nullptr ? -1 : open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }
  return LogFd;
}

void Write(const char* text, int length) {
  if (length > 0) (void)!write(LogFd, text, static_cast<std::size_t>(length));
}

void Allocated(void* block, std::size_t size, void* caller) {
  if (block == nullptr || size < kLoggedSize) return;
  pthread_mutex_lock(&Lock);
  if (Log() >= 0) {
    for (void*& slot : Tracked) {
      if (slot == nullptr) {
        slot = block;
        break;
      }
    }
    char line[96];
    Write(line, std::snprintf(line, sizeof line, "A %lx %zu %lx\n", reinterpret_cast<unsigned long>(block), size,
                              reinterpret_cast<unsigned long>(caller)));
  }
  pthread_mutex_unlock(&Lock);
}

// Only blocks whose usable size is large enough can be tracked: the table is searched for
// those alone.
bool Large(void* block) { return block != nullptr && malloc_usable_size(block) >= kLoggedSize; }

void Freed(void* block) {
  pthread_mutex_lock(&Lock);
  if (LogFd >= 0) {
    for (void*& slot : Tracked) {
      if (slot == block) {
        slot = nullptr;
        char line[48];
        Write(line, std::snprintf(line, sizeof line, "F %lx\n", reinterpret_cast<unsigned long>(block)));
        break;
      }
    }
  }
  pthread_mutex_unlock(&Lock);
}

}  // namespace

extern "C" {

void* malloc(std::size_t size) {
  void* block = __libc_malloc(size);
  Allocated(block, size, __builtin_return_address(0));
  return block;
}

void* calloc(std::size_t count, std::size_t size) {
  void* block = __libc_calloc(count, size);
  std::size_t total = 0;
  if (!__builtin_mul_overflow(count, size, &total)) Allocated(block, total, __builtin_return_address(0));
  return block;
}

void* realloc(void* old, std::size_t size) {
  const bool wasLarge = Large(old);
  void* block = __libc_realloc(old, size);
  if (block != nullptr || size == 0) {
    if (wasLarge) Freed(old);
    Allocated(block, size, __builtin_return_address(0));
  }
  return block;
}

void free(void* block) {
  if (Large(block)) Freed(block);
  __libc_free(block);
}

void* memalign(std::size_t alignment, std::size_t size) {
  void* block = __libc_memalign(alignment, size);
  Allocated(block, size, __builtin_return_address(0));
  return block;
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
  void* block = __libc_memalign(alignment, size);
  Allocated(block, size, __builtin_return_address(0));
  return block;
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* block = __libc_memalign(alignment, size);
  if (block == nullptr) return ENOMEM;
  Allocated(block, size, __builtin_return_address(0));
  *result = block;
  return 0;
}

}  // extern "C"
