// Watching a folder on Windows: ReadDirectoryChangesW on the folder, always
// one read pending, whose event the one wait (os_wait.h) waits on.
#include <windows.h>

#include <cstdint>

#include "os_watch.h"
#include "os_win_wake.h"

namespace {

constexpr DWORD kChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;

HANDLE Folder(const OsWatch* w) { return reinterpret_cast<HANDLE>(w->handle); }

bool Arm(OsWatch* w) {
  auto* p = static_cast<OVERLAPPED*>(w->state);
  ResetEvent(p->hEvent);
  return ReadDirectoryChangesW(Folder(w), w->events, sizeof w->events, FALSE, kChanges, nullptr, p, nullptr) != 0;
}

// Puts each reported name to relevant: true when one counts.
bool Relevant(const OsWatch* w, DWORD bytes, bool (*relevant)(const char*, void*), void* context) {
  if (bytes == 0) return true;  // more changed than the buffer held
  bool counts = false;
  for (DWORD at = 0;;) {
    const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(w->events + at);
    if (info->Action != FILE_ACTION_REMOVED && info->Action != FILE_ACTION_RENAMED_OLD_NAME) {
      char name[MAX_PATH * 2];
      int n = WideCharToMultiByte(CP_ACP, 0, info->FileName, static_cast<int>(info->FileNameLength / sizeof(WCHAR)),
                                  name, sizeof name - 1, nullptr, nullptr);
      name[n > 0 ? n : 0] = '\0';
      if (n > 0 && relevant(name, context)) counts = true;
    }
    if (info->NextEntryOffset == 0) return counts;
    at += info->NextEntryOffset;
  }
}

}  // namespace

int OsWatchOpen(const char* folder, OsWatch* w) {
  HANDLE h = CreateFileA(folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  auto* p = new OVERLAPPED{};
  p->hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  w->handle = reinterpret_cast<intptr_t>(h);
  w->state = p;
  if (p->hEvent == nullptr || !Arm(w)) {
    int err = static_cast<int>(GetLastError());
    OsWatchClose(w);
    return err;
  }
  return 0;
}

void OsWatchClose(OsWatch* w) {
  auto* p = static_cast<OVERLAPPED*>(w->state);
  if (w->handle != -1) {
    CancelIoEx(Folder(w), nullptr);
    if (p != nullptr && p->hEvent != nullptr) {
      DWORD ignored = 0;
      GetOverlappedResult(Folder(w), p, &ignored, TRUE);
    }
    CloseHandle(Folder(w));
    w->handle = -1;
  }
  if (p != nullptr) {
    if (p->hEvent != nullptr) CloseHandle(p->hEvent);
    delete p;
    w->state = nullptr;
  }
}

HANDLE OsWinWatchEvent(const OsWatch* w) {
  const auto* p = static_cast<const OVERLAPPED*>(w->state);
  return p != nullptr ? p->hEvent : nullptr;
}

OsWatchNews OsWatchRead(OsWatch* w, bool (*relevant)(const char*, void*), void* context) {
  auto* p = static_cast<OVERLAPPED*>(w->state);
  DWORD bytes = 0;
  if (!GetOverlappedResult(Folder(w), p, &bytes, FALSE))
    return GetLastError() == ERROR_IO_INCOMPLETE ? OsWatchNews::None : OsWatchNews::Lost;
  bool counts = Relevant(w, bytes, relevant, context);
  if (!Arm(w)) return OsWatchNews::Lost;
  return counts ? OsWatchNews::Changed : OsWatchNews::None;
}
