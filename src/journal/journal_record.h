// What one run's journal records, as plain data, and its text form (the
// journal's "run.ini"): written whole and read whole, so that a reader
// never sees half an update. The rules that look only at records (which
// journals may go) are here too; they touch no file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A file the run protects (Modules.ini, the settings file).
struct RecordedFile {
  // Where the backup copy ("<path>.upd") stands.
  enum class Slot {
    Free,      // this run holds no backup copy of the file
    Making,    // this run is making it: what is there may be incomplete
    Held,      // this run's complete backup copy waits to be restored
    Released,  // restored and removed
  };

  std::wstring name;          // the name of its copy in the journal ("Modules.ini")
  std::wstring path;          // where it was at the start of the run
  bool existed = false;       // it existed then; the journal holds its copy
  std::wstring digest;        // of that copy
  Slot slot = Slot::Free;
  std::wstring backupDigest;  // of the backup copy, once held
  // The journal's own file with the backup copy's content: the copy above
  // when the two are the same, else "<name>.upd".
  std::wstring backupCopy;
};

// How far a package run's transaction went.
enum class PackageStage { None, Staging, Switching, Switched, Done };

// One file of a package run's plan.
struct PackageReplacement {
  std::wstring installed;  // the installed file the package replaces
  std::wstring staged;     // its new content, staged beside it
  std::wstring aside;      // where the installed file is renamed aside during the switch
};

struct JournalRecord {
  // Update mode: backups not yet complete (a stop puts everything back as
  // it was), or complete (the installer may run; what is put back is the
  // backup copies and the values).
  enum class Phase { Preparing, Saved };

  std::wstring id;             // the run id, also the journal folder's name
  uint64_t sequence = 0;       // one more than any journal before it: the order of runs
  std::wstring started;        // local time, for people
  unsigned long process = 0;
  bool packageMode = false;
  std::wstring program;
  bool ended = false;
  std::wstring endNote;        // "ended", "recovered by <id>", ...
  Phase phase = Phase::Preparing;
  bool hasLanguage = false;    // the language to write back was recorded
  std::wstring language;
  std::vector<RecordedFile> files;
  PackageStage packageStage = PackageStage::None;
};

// The record as the text of run.ini (UTF-16 lines, "[section]" and
// "key=value"), and back. ParseRecord returns false for a text that is no
// record of this program (a missing [run] id, an unknown state).
std::wstring RecordText(const JournalRecord& record);
bool ParseRecord(const std::wstring& text, JournalRecord& record);

// A package plan as text (one "installed|staged|aside" line a file), and
// back; ParsePlanText returns false for a line that is not of that form.
std::wstring PlanText(const std::vector<PackageReplacement>& plan);
bool ParsePlanText(const std::wstring& text, std::vector<PackageReplacement>& plan);

// One journal found under the journal root, for the choice of what goes.
struct JournalSummary {
  std::wstring id;        // the folder's name
  bool readable = false;  // its record could be read
  uint64_t sequence = 0;
  bool ended = false;
};

// The journals to remove: of the ended ones, all but the `kept` latest by
// their recorded sequence (never by folder names or times, which a clock
// set back or ahead would reorder). Never `running`, never a journal that
// has not ended (its backup copies may still wait, readable or not), never
// one whose record can't be read.
std::vector<std::wstring> JournalsToRemove(const std::vector<JournalSummary>& journals,
                                           const std::wstring& running, size_t kept);
