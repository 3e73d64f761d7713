// Text values of HKEY_LOCAL_MACHINE keys, always in the 64-bit registry view
// although the updater is a 32-bit program.
#pragma once

#include <windows.h>

#include "platform/unique_handle.h"
#include "text/tmk_string.h"

// The product's registry key under HKEY_LOCAL_MACHINE.
extern const wchar_t kProductKey[];

// Opens `subKey` of HKEY_LOCAL_MACHINE in the 64-bit view with `access`
// (KEY_WOW64_64KEY is added). Returns false and leaves `key` untouched when
// the key can't be opened.
bool OpenMachineKey(const wchar_t* subKey, REGSAM access, vskr::UniqueHkey& key);

// Reads value `name` of an open key as UTF-16 text, whatever its registry
// type: the data up to its first zero unit, or all of it when it holds none
// (values this program writes carry no terminating zero); never past the data
// received. A value of more than `capacityBytes` bytes does not fit.
// Returns true and sets `text` (and `type` when given) on success; on
// failure (missing value, too large) neither out-parameter is touched.
bool QueryRegistryText(HKEY key, const wchar_t* name, DWORD capacityBytes, tmk_String& text,
                       DWORD* type = nullptr);

// Stores `text` as value `name` of type `type` (REG_SZ unless told), with a
// byte count of twice its length: no terminating zero is written. Returns
// the registry's result code.
LONG SetRegistryText(HKEY key, const wchar_t* name, const tmk_String& text,
                     DWORD type = REG_SZ);
