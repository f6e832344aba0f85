// uShared: what every unit of the demo shares: the reference-counted arrays, the renderer
// interface, the scene index, the greeting text, the tick count and the executable's own
// folder. Depends on uFatal and the C++ standard library.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "engine/fatal.hpp"

// Allocation failure ends the demo like any other uncaught error.
[[noreturn]] void OutOfMemory();

// A reference-counted array: copies share the same elements, the last holder frees them,
// and every index is checked. Byte and number arrays come uninitialised (to be filled by
// one bulk read) or zeroed by the allocator (fresh pages, no clearing pass).
template <class T>
class TDynArray {
 public:
  TDynArray() = default;

  static TDynArray Uninitialized(std::size_t count) {
    static_assert(std::is_trivially_copyable_v<T>);
    return FromRaw(count, false);
  }
  static TDynArray Zeroed(std::size_t count) {
    static_assert(std::is_trivially_copyable_v<T>);
    return FromRaw(count, true);
  }
  // Uninitialised too, but an allocation the system refuses gives an empty array instead
  // of ending the demo: for threads other than the main one, which must not end the process.
  static TDynArray TryUninitialized(std::size_t count) {
    static_assert(std::is_trivially_copyable_v<T>);
    return FromRaw(count, false, false);
  }
  // Value-initialised elements, for element types that are not plain data.
  static TDynArray Make(std::size_t count) {
    TDynArray array;
    if (count == 0) return array;
    array.Items = std::shared_ptr<T[]>(new T[count]());
    array.Count = count;
    return array;
  }

  std::size_t Length() const { return Count; }
  bool Empty() const { return Count == 0; }
  T& operator[](std::size_t index) const { return Items[CheckIndex(index, Count)]; }
  T* Data() const { return Items.get(); }
  std::span<T> Span() const { return {Items.get(), Count}; }
  long UseCount() const { return Items.use_count(); }
  bool SharesWith(const TDynArray& other) const { return Items == other.Items; }

  // A new array one element longer holding the old elements and then value; the old
  // array (and whoever still holds it) is left untouched.
  TDynArray Appended(const T& value) const {
    TDynArray grown = Make(Count + 1);
    for (std::size_t i = 0; i < Count; ++i) grown.Items[i] = Items[i];
    grown.Items[Count] = value;
    return grown;
  }

 private:
  static TDynArray FromRaw(std::size_t count, bool zeroed, bool fatal = true) {
    TDynArray array;
    if (count == 0) return array;
    void* raw = nullptr;
    if (count <= SIZE_MAX / sizeof(T)) raw = zeroed ? std::calloc(count, sizeof(T)) : std::malloc(count * sizeof(T));
    if (raw == nullptr) {
      if (fatal) OutOfMemory();
      return array;
    }
    array.Items = std::shared_ptr<T[]>(static_cast<T*>(raw), [](T* p) { std::free(p); });
    array.Count = count;
    return array;
  }

  std::shared_ptr<T[]> Items;
  std::size_t Count = 0;
};

using TUInt8DynArray = TDynArray<std::uint8_t>;
using TUInt32DynArray = TDynArray<std::uint32_t>;

// The contract between the engine and every scene renderer. Update receives the duration
// of the frame being drawn in seconds; Render draws with GL into the current frame.
class IRenderer {
 public:
  virtual ~IRenderer() = default;
  virtual void Render() = 0;
  virtual void Update(double frameTime) = 0;
  virtual std::int32_t GetScene() = 0;
};

using IRendererRef = std::shared_ptr<IRenderer>;
using IRendererDynArray = TDynArray<IRendererRef>;

// The scene being drawn; only the main thread reads or changes it, and only forwards.
extern std::int32_t SceneIndex;

// Advances the scene index by one, with the range check every increment gets.
void AdvanceSceneIndex();

// The fixed 1920 x 1080 design space (origin lower left) of the sun, boat and scroller.
inline constexpr double kDesignWidth = 1920.0;
inline constexpr double kDesignHeight = 1080.0;

// The greeting text the scroller moves across the harbour scene.
extern const wchar_t GreetingText[];

// One byte per character: code units below 256 keep their value, every other one
// becomes '?'.
std::string ToLatin1(std::wstring_view text);

// Milliseconds of the monotonic clock (time of day where that clock cannot be read).
std::uint64_t GetTickCount64();

// The directory that holds the running executable, with its trailing '/'.
std::string ExecutableDirectory();
