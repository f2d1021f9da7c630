#include "app/install_lock_win.h"

#include <utility>

#include "platform/thread_win.h"

namespace tarnix::win {
namespace {

static_assert(sizeof(MutexHandle) == sizeof(HANDLE));
static_assert(sizeof(WindowHandle) == sizeof(HWND));
static_assert(sizeof(LONG) == sizeof(std::uint32_t) && sizeof(DWORD) == sizeof(std::uint32_t));

HANDLE AsHandle(MutexHandle mutex) { return reinterpret_cast<HANDLE>(mutex); }
HWND AsWindow(WindowHandle window) { return reinterpret_cast<HWND>(window); }

// Room for the windows of a busy desktop; a list that outgrows it is made
// again with twice the room.
constexpr std::size_t kWindowListRoom = 512;

struct WindowList {
  std::vector<WindowHandle> windows;
  bool full = false;
};

// Called from inside EnumWindows, so it never allocates: an allocation's
// failure must not unwind through the system's frames. A full list stops the
// enumeration.
BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  auto& collected = *reinterpret_cast<WindowList*>(list);
  if (collected.windows.size() == collected.windows.capacity()) {
    collected.full = true;
    return FALSE;
  }
  collected.windows.push_back(reinterpret_cast<WindowHandle>(window));
  return TRUE;
}

}  // namespace

MutexHandle Win32InstallLockPlatform::CreateNamedMutex(const std::wstring& name,
                                                       std::uint32_t* error) {
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) *error = ::GetLastError();
  return reinterpret_cast<MutexHandle>(mutex);
}

std::uint32_t Win32InstallLockPlatform::WaitForMutex(MutexHandle mutex, std::uint32_t timeoutMs) {
  return ::WaitForSingleObject(AsHandle(mutex), timeoutMs);
}

void Win32InstallLockPlatform::ReleaseOwnership(MutexHandle mutex) { ::ReleaseMutex(AsHandle(mutex)); }

void Win32InstallLockPlatform::CloseMutex(MutexHandle mutex) { ::CloseHandle(AsHandle(mutex)); }

std::uint32_t Win32InstallLockPlatform::CurrentProcessId() { return ::GetCurrentProcessId(); }

// A page of the paging file, named in the session: every launcher that
// creates it at the same moment gets the same zero-filled object, and it lives
// while any launcher has it open. The slot is read and written with
// interlocked calls, so a reader never sees half a value.
// The name can be taken first by any program of the session: as another kind
// of object, or with other rights, the call fails and there is no record; as
// a section of its own making, its pages may be only reserved (SEC_RESERVE),
// and touching them would end the launcher, so the view is used only when its
// first page is committed and writable.
volatile LONG* Win32InstallLockPlatform::HolderSlot() {
  // Made once, by the first use (the take's own publish or read): a record
  // that could not be made is not tried again, so from then on the slot
  // stays as it is, and the threads that use it after the take only read it.
  if (!holderTried_) {
    holderTried_ = true;
    holderRecord_.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                             sizeof(LONG), kInstallHolderRecordName));
    if (holderRecord_) {
      UniqueMappedView view(
          ::MapViewOfFile(holderRecord_.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
      MEMORY_BASIC_INFORMATION page = {};
      if (view && ::VirtualQuery(view.Get(), &page, sizeof(page)) == sizeof(page) &&
          page.State == MEM_COMMIT && (page.Protect & 0xFFu) == PAGE_READWRITE &&
          page.RegionSize >= sizeof(LONG)) {
        holderView_ = std::move(view);
      }
    }
  }
  return static_cast<volatile LONG*>(holderView_.Get());
}

void Win32InstallLockPlatform::PublishHolder(std::uint32_t processId) {
  if (volatile LONG* slot = HolderSlot()) ::InterlockedExchange(slot, static_cast<LONG>(processId));
}

void Win32InstallLockPlatform::WithdrawHolder(std::uint32_t processId) {
  if (volatile LONG* slot = HolderSlot()) ::InterlockedCompareExchange(slot, 0, static_cast<LONG>(processId));
}

std::uint32_t Win32InstallLockPlatform::ReadHolder() {
  volatile LONG* slot = HolderSlot();
  return slot != nullptr ? static_cast<std::uint32_t>(::InterlockedCompareExchange(slot, 0, 0)) : 0;
}

std::vector<WindowHandle> Win32InstallLockPlatform::TopLevelWindows() {
  WindowList list;
  for (std::size_t room = kWindowListRoom;; room *= 2) {
    list.windows.clear();
    list.windows.reserve(room);
    list.full = false;
    // A failure returns the windows found before it, as the interface says.
    ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&list));
    if (!list.full) return std::move(list.windows);
  }
}

std::uint32_t Win32InstallLockPlatform::WindowProcessId(WindowHandle window) {
  DWORD processId = 0;
  if (::GetWindowThreadProcessId(AsWindow(window), &processId) == 0) return 0;
  return processId;
}

bool Win32InstallLockPlatform::IsVisible(WindowHandle window) { return ::IsWindowVisible(AsWindow(window)) != FALSE; }

bool Win32InstallLockPlatform::IsEnabled(WindowHandle window) { return ::IsWindowEnabled(AsWindow(window)) != FALSE; }

WindowHandle Win32InstallLockPlatform::LastActivePopup(WindowHandle window) {
  return reinterpret_cast<WindowHandle>(::GetLastActivePopup(AsWindow(window)));
}

bool Win32InstallLockPlatform::IsMinimized(WindowHandle window) { return ::IsIconic(AsWindow(window)) != FALSE; }

void Win32InstallLockPlatform::Restore(WindowHandle window) { ::ShowWindowAsync(AsWindow(window), SW_RESTORE); }

// Called by the waiting launcher itself, on whichever of its threads waits:
// the right to set the foreground window belongs to the process (the user's
// click started it), and asking the holder to bring itself up would fail, as
// the holder need not have that right.
bool Win32InstallLockPlatform::SetForeground(WindowHandle window) {
  return ::SetForegroundWindow(AsWindow(window)) != FALSE;
}

HeldInstallLock::HeldInstallLock() = default;

InstallLockOutcome HeldInstallLock::Take() {
  // Made here, not before: a direct start never comes this far.
  taken_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  release_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (taken_ && release_) holder_ = BeginWaitableWorkerThread(&Hold, this);
  if (!holder_) {
    heldHere_ = true;
    takingThread_ = ::GetCurrentThreadId();
    return lock_.Take();
  }
  ::WaitForSingleObject(taken_.Get(), INFINITE);
  return outcome_;
}

// The holder thread: takes the lock, tells Take, and keeps the lock until
// Release asks for it (or the process ends, which abandons it).
unsigned HeldInstallLock::Hold(void* parameter) {
  auto* self = static_cast<HeldInstallLock*>(parameter);
  self->outcome_ = self->lock_.Take();
  ::SetEvent(self->taken_.Get());
  if (self->lock_.IsOwned()) {
    ::WaitForSingleObject(self->release_.Get(), INFINITE);
    self->lock_.Release();
  }
  return 0;
}

// The record is one interlocked slot, and after the take the platform's
// mapping no longer changes: the holder thread, waiting for the release,
// touches neither meanwhile.
void HeldInstallLock::WithdrawHolder() { lock_.WithdrawHolder(); }

void HeldInstallLock::Release() {
  if (heldHere_) {
    // Only its owner can give a mutex up; for any other thread the
    // process's end will.
    if (::GetCurrentThreadId() == takingThread_) lock_.Release();
    return;
  }
  if (!holder_) return;
  // The holder needs nothing of the caller to let go, so waiting for its end
  // cannot hang; two callers at once both see it end.
  ::SetEvent(release_.Get());
  ::WaitForSingleObject(holder_.Get(), INFINITE);
}

}  // namespace tarnix::win
