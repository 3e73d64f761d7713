// Where run journals live and how they are found, read, written and removed:
// the journal root "<common application data>\Quendris\QIRO\Journal", one
// folder a run, each with its record "run.ini"; and the one-run lock in the
// root. The files' contents are RunJournal's (run_journal.h).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "journal/journal_record.h"
#include "platform/unique_handle.h"

// The record's file in a journal's folder, the values' and a package run's
// plan.
constexpr wchar_t kRecordFileName[] = L"run.ini";
constexpr wchar_t kValuesFile[] = L"values.reg";
constexpr wchar_t kPlanFile[] = L"package.plan";

// Ended journals kept besides the running one's.
constexpr size_t kJournalsKept = 5;

// "<common application data>\Quendris\QIRO\Journal"; empty when the shell
// can't report the common application data folder.
std::wstring JournalRoot();

// The folder of the journal of run `runId` under the root.
std::wstring JournalFolderOf(const std::wstring& runId);

// `folder` + "\" + `name`.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);


// Creates the journal root and the folders between the common application
// data folder and it where they are missing, and makes the root a folder
// for administrators and the system alone (PrepareAdministratorsOnlyFolder):
// the journal holds the configuration's values. A link or a file anywhere
// on the way is refused (ERROR_DIRECTORY, ERROR_CANT_ACCESS_FILE). Returns
// 0 or the system's error.
[[nodiscard]] DWORD PrepareJournalRoot();

// The journals' folder names under the root (links to folders left out).
std::vector<std::wstring> JournalFolderNames();

// Reads the record in a journal's folder; false when it can't be read or is
// no record of this program.
bool ReadRecordIn(const std::wstring& folder, JournalRecord& record);

// Writes `text` as UTF-16 behind a byte-order mark into a file created as
// `disposition` says (CREATE_NEW, CREATE_ALWAYS) and flushes it to the disk
// before it returns, so that a file renamed into place afterwards is whole
// after a power cut; and reads such a file back (false when it can't be
// read). Return 0 or the system's error.
[[nodiscard]] DWORD WriteUtf16File(const std::wstring& path, const std::wstring& text,
                                   DWORD disposition);
bool ReadUtf16File(const std::wstring& path, std::wstring& text);

// Removes a journal's folder whole: its files, read-only ones too
// (DeleteFileW removes a link itself, never what it points to), the record
// last, then the folder; anything else keeps it. A removal that stops
// half-way leaves the record, so that a later run finishes it. Returns 0 or
// the first error; the run log tells what went.
DWORD RemoveJournal(const std::wstring& folder);

// Removes the journals JournalsToRemove names, `running` being the running
// run's id.
void RemoveJournalsNoLongerKept(const std::wstring& running);

// One run of the updater at a time on the machine, in either mode and from
// any session: the file "run.lock" in the journal root, opened without any
// sharing for as long as the run lasts. Only administrators and the system
// can create or open files there, so no user can take it first; the system
// closes it when the run's process ends however it ends, so a dead run
// blocks nobody.
class RunLock {
 public:
  RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  bool Held() const { return file_.IsValid(); }
  // Why it is not held: ERROR_INSTALL_ALREADY_RUNNING (1618) when another
  // run holds it, else the system's error of the journal root or the file.
  DWORD Refusal() const { return refusal_; }

 private:
  vskr::UniqueFileHandle file_;
  DWORD refusal_ = ERROR_SUCCESS;
};
