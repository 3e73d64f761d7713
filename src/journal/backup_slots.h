// The backup copy of a protected file ("<file>.upd", its slot) through its
// life: set aside when an earlier copy is in the way, made, held while the
// installer runs, and released once its file is back. A slot is never
// deleted unless it holds exactly the content this run put there; anything
// else at it is set aside under a name of its own and kept.
#pragma once

#include <windows.h>

#include <string>

#include "journal/journal_record.h"

// The slot of a recorded file: "<path>.upd".
std::wstring SlotOf(const RecordedFile& file);

// The name `slot` is set aside as by run `runId` when `taken` earlier names
// of that run exist: "<slot>.<run id>", then "<slot>.<run id>-2", ... (all
// names the clean-up and package mode know as backup copies).
std::wstring AsideName(const std::wstring& slot, const std::wstring& runId, unsigned taken);

// Renames `slot` to the first AsideName that is free, never replacing
// anything. Returns 0 or the system's error; the run log tells either.
[[nodiscard]] DWORD SetAsideSlot(const std::wstring& slot, const std::wstring& runId);
