#pragma once
// One small move-only owner for every kind of handle the launcher opens.
//
// A kind is described by a traits type:
//   using Handle = ...;                  the raw handle type
//   static Handle Invalid() noexcept;    the value that owns nothing
//   void Close(Handle) noexcept;         releases a valid handle
// Traits may carry state (for example the interface that opened the handle,
// so a fake can see the close); stateless traits cost nothing.

#include <utility>

namespace tarnix {

template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() noexcept : handle_(Traits::Invalid()) {}
  explicit UniqueHandle(Handle handle, Traits traits = Traits()) noexcept
      : handle_(handle), traits_(std::move(traits)) {}
  ~UniqueHandle() { Reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  UniqueHandle(UniqueHandle&& other) noexcept
      : handle_(other.Release()), traits_(std::move(other.traits_)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset(other.Release());
      traits_ = std::move(other.traits_);
    }
    return *this;
  }

  bool IsValid() const noexcept { return handle_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return IsValid(); }
  Handle Get() const noexcept { return handle_; }

  // Closes what is owned now (if anything) and takes ownership of `handle`.
  void Reset(Handle handle = Traits::Invalid()) noexcept {
    Handle old = handle_;
    handle_ = handle;
    if (old != Traits::Invalid()) traits_.Close(old);
  }

  // Gives up ownership without closing.
  [[nodiscard]] Handle Release() noexcept {
    Handle handle = handle_;
    handle_ = Traits::Invalid();
    return handle;
  }

  // For out-parameters of open calls: closes what is owned and returns the
  // address of the (now invalid) slot.
  Handle* Put() noexcept {
    Reset();
    return &handle_;
  }

 private:
  Handle handle_;
  [[no_unique_address]] Traits traits_;
};

// Traits of a handle that is released through the interface that handed it
// out (`CloseFn`, a member function of `Api`), so a fake sees every release.
template <typename Api, typename H, H kInvalid, auto CloseFn>
struct ApiHandleTraits {
  using Handle = H;
  Api* api = nullptr;
  static Handle Invalid() noexcept { return kInvalid; }
  void Close(Handle handle) noexcept { (api->*CloseFn)(handle); }
};

}  // namespace tarnix
