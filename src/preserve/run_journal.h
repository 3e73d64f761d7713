// The run journal: before its first write a run records, in a folder of its
// own under "<common application data>\Quendris\QIRO\Journal", what it may
// change, as it was, and which run it is:
//   run.ini      the run (id, start, process id, mode, program), its state
//                ("running", "ended", "backup kept", "taken over by <id>"),
//                the files recorded, the backup copies it holds with their
//                digests, and the values it writes back after the installer
//   Modules.ini, qiro.ini   copies of the two files (absent: the file was)
//   values.reg   the product key's and the environment's values it may
//                write, with their types ("name"=- : the value was missing);
//                an administrator can import it to put them back by hand
// The last kJournalsKept runs' journals are kept, and older ones only while
// they hold a backup copy that is still waiting to be restored.
#pragma once

#include <windows.h>

#include "settings/update_context.h"
#include "text/tmk_string.h"

constexpr int kJournalsKept = 5;

// "<common application data>\Quendris\QIRO\Journal"; empty when the shell
// can't report the common application data folder.
tmk_String JournalRoot();

// Creates `folder`, the new folder of one run's journal, and the folders
// between the common application data folder and it where they are missing.
// The journal root (the folder above `folder`) is made a folder for
// administrators and the system alone (PrepareAdministratorsOnlyFolder);
// the run's folder inherits its access. A link or a file anywhere on the
// way, and a `folder` that exists already, are refused (ERROR_DIRECTORY,
// ERROR_CANT_ACCESS_FILE, ERROR_ALREADY_EXISTS). Every journal folder is
// created here and nowhere else. Returns 0 or the system's error.
[[nodiscard]] DWORD PrepareJournalFolder(const tmk_String& folder);

// Starts this run's journal, before the run writes anything: sets
// context.JournalFolder, records the run as "running", copies Modules.ini
// (under the product key's DATA_PATH) and the settings file, writes
// values.reg, names the folder in the run log and removes journals no longer
// kept. Returns 0, or the system's error of what could not be recorded: the
// run must then change nothing.
[[nodiscard]] DWORD BeginRunJournal(UpdateContext& context, bool packageMode);

// One entry of run.ini (the empty text when it is missing), and writing one.
tmk_String JournalText(const tmk_String& journalFolder, const wchar_t* section, const wchar_t* key);
void SetJournalText(const tmk_String& journalFolder, const wchar_t* section, const wchar_t* key,
                    const tmk_String& text);

// The run id of a journal: its folder's name.
tmk_String RunIdOf(const tmk_String& journalFolder);

// Records that the run holds the backup copy `backup` whose content has
// `digest`; `from` names the run it was taken over from (empty: made by
// this run).
void RecordBackupInJournal(const tmk_String& journalFolder, const tmk_String& backup,
                           const tmk_String& digest, const tmk_String& from);

// The journal of the latest earlier run (other than the run of
// `journalFolder`) that did not end (interrupted, or its copy-back failed)
// and holds `backup` with `digest`; empty when none does.
tmk_String UnfinishedRunHolding(const tmk_String& backup, const tmk_String& digest,
                                const tmk_String& journalFolder);

// Marks every earlier unfinished journal that holds a backup copy the run
// of `journalFolder` has adopted as "taken over by" that run: the backup
// copies are that run's to restore from now on. Called once both files are
// seen to, so that a run holding two is not marked after the first.
void MarkTakenOver(const tmk_String& journalFolder);

// Puts back what the run has changed so far: each file and value recorded
// that differs from its record is written back as it was (one that did not
// exist is deleted). For a run that stops before the installer.
void PutBackAsJournalled(const tmk_String& journalFolder);

// Writes the run's end into its journal: "ended", or "backup kept" while a
// backup copy it holds is still there, so that the next run restores it.
// Nothing for an empty folder.
void FinishRunJournal(const tmk_String& journalFolder);

// Tells the person at the workstation (where someone can see it) that the
// update was not started, and logs the error.
void ReportConfigurationNotSaved(DWORD error);
