#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

// Storage for many small objects in large blocks: a scene of a million
// triangles then pays neither a heap header nor a heap call per shape. The
// objects are never destroyed, only their memory released, so they must be
// trivially destructible.
class ShapeArena {
public:
  ShapeArena() = default;
  ShapeArena(const ShapeArena &) = delete;
  ShapeArena &operator=(const ShapeArena &) = delete;

  // Constructs a T in the arena; bad_alloc when no block can be had.
  template <typename T, typename... Args> T *make(Args &&...args) {
    static_assert(sizeof(T) <= kBlockBytes && alignof(T) <= kBlockAlignment);
    static_assert(std::is_trivially_destructible_v<T>, "the arena never destroys its objects");
    std::size_t offset = (used_ + alignof(T) - 1) / alignof(T) * alignof(T);
    if (blocks_.empty() || offset + sizeof(T) > kBlockBytes) {
      if (blocks_.size() == blocks_.capacity()) {
        blocks_.reserve(2 * blocks_.size() + 16); // first, so that push_back cannot throw and leak
      }
      blocks_.push_back(std::make_unique_for_overwrite<std::byte[]>(kBlockBytes));
      offset = 0;
    }
    T *object = ::new (blocks_.back().get() + offset) T(std::forward<Args>(args)...);
    used_ = offset + sizeof(T);
    return object;
  }

private:
  // Large enough that the heap hands the blocks out as whole pages, small
  // enough that a scene of a few shapes does not notice.
  static constexpr std::size_t kBlockBytes = std::size_t(1) << 18;
  static constexpr std::size_t kBlockAlignment = __STDCPP_DEFAULT_NEW_ALIGNMENT__;

  std::vector<std::unique_ptr<std::byte[]>> blocks_;
  std::size_t used_ = 0;
};
