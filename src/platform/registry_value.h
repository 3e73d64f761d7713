// Text values of HKEY_LOCAL_MACHINE keys, always in the 64-bit registry view
// although the updater is a 32-bit program. Every call answers the
// registry's own result code (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND for a
// missing key or value, ...).
#pragma once

#include <windows.h>

#include "platform/unique_handle.h"
#include "text/tmk_string.h"

// Opens `subKey` of HKEY_LOCAL_MACHINE in the 64-bit view with `access`
// (KEY_WOW64_64KEY is added). On failure `key` is left untouched.
[[nodiscard]] LONG OpenMachineKey(const wchar_t* subKey, REGSAM access, vskr::UniqueHkey& key);

// Reads value `name` of an open key as UTF-16 text, whatever its registry
// type: the data up to its first zero unit, or all of it when it holds none
// (values this program writes carry no terminating zero); never past the data
// received. A value of more than `capacityBytes` bytes does not fit
// (ERROR_MORE_DATA). On success sets `text` (and `type` when given); on
// failure neither out-parameter is touched.
[[nodiscard]] LONG QueryRegistryText(HKEY key, const wchar_t* name, DWORD capacityBytes,
                                     tmk_String& text, DWORD* type = nullptr);

// Stores `text` as value `name` of type `type` (REG_SZ unless told), with a
// byte count of twice its length: no terminating zero is written.
[[nodiscard]] LONG SetRegistryText(HKEY key, const wchar_t* name, const tmk_String& text,
                                   DWORD type = REG_SZ);
