// The system time in FILETIME units (100 ns), with the best resolution the
// system offers; shared by the installer stand-in and the measuring tool.
#pragma once

#include <windows.h>

inline unsigned long long Ticks(const FILETIME& time) {
  return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

inline unsigned long long PreciseNow() {
  using PreciseFn = VOID(WINAPI*)(LPFILETIME);
  static PreciseFn precise = reinterpret_cast<PreciseFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
  FILETIME now;
  if (precise) {
    precise(&now);
  } else {
    GetSystemTimeAsFileTime(&now);
  }
  return Ticks(now);
}
