// uDynArray: the reference-counted, index-checked arrays every unit hands around, and the
// fatal end of a failed allocation.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>
#include <type_traits>

#include "base/fatal.hpp"

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
    if (count > SIZE_MAX / sizeof(T)) OutOfMemory();
    T* items = new (std::nothrow) T[count]();
    if (items == nullptr) OutOfMemory();
    array.Items = std::shared_ptr<T[]>(items);
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
