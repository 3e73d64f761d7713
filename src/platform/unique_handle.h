// Owning wrappers for the system handles the updater opens. Each kind of
// handle gets a traits struct (its type, its "none" value and how it is
// closed) and a typedef; no raw handle outlives the scope that opened it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <io.h>

namespace vskr {

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() : handle_(Traits::Invalid()) {}
  explicit UniqueHandle(Type handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  bool IsValid() const { return handle_ != Traits::Invalid(); }
  explicit operator bool() const { return IsValid(); }
  Type Get() const { return handle_; }

  // For out-parameters of the opening call: closes what is held first.
  Type* Put() {
    Reset();
    return &handle_;
  }

  Type Release() {
    Type handle = handle_;
    handle_ = Traits::Invalid();
    return handle;
  }

  void Reset(Type handle = Traits::Invalid()) {
    if (IsValid()) Traits::Close(handle_);
    handle_ = handle;
  }

 private:
  Type handle_;
};

struct HkeyTraits {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { RegCloseKey(h); }
};

struct FindHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { FindClose(h); }
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { CloseHandle(h); }
};

// Handles that report failure as INVALID_HANDLE_VALUE (CreateFileW,
// CreateToolhelp32Snapshot).
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { CloseHandle(h); }
};

// The run-time library's wide find handle (_wfindfirst64i32).
struct CrtFindTraits {
  using Type = intptr_t;
  static Type Invalid() { return -1; }
  static void Close(Type h) { _findclose(h); }
};

// Memory the system handed out with LocalAlloc (security descriptors).
struct LocalMemoryTraits {
  using Type = void*;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { LocalFree(h); }
};

using UniqueHkey = UniqueHandle<HkeyTraits>;
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueCrtFind = UniqueHandle<CrtFindTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;

// The process and thread handles of a started child; both are closed when
// the holder goes out of scope.
struct ChildProcess {
  UniqueKernelHandle Process;
  UniqueKernelHandle Thread;
  DWORD ProcessId = 0;

  // Takes over the handles of a PROCESS_INFORMATION filled by CreateProcessW.
  void Adopt(const PROCESS_INFORMATION& info) {
    Process.Reset(info.hProcess);
    Thread.Reset(info.hThread);
    ProcessId = info.dwProcessId;
  }
};

}  // namespace vskr
