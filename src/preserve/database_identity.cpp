// The object database's system environment variables: saved before the
// installer, put back after it when it changed them.
#include <windows.h>

#include <cwchar>

#include "platform/run_log.h"
#include "preserve/run_journal.h"
#include "settings/system_environment.h"
#include "settings/update_context.h"

namespace {

// The three variables, each with the context's fields that keep its value
// and its registry type.
struct DatabaseVariable {
  const wchar_t* name;
  tmk_String UpdateContext::*saved;
  unsigned long UpdateContext::*type;
};

const DatabaseVariable kDatabaseVariables[] = {
    {L"VERSANT_DBID", &UpdateContext::SavedVersantDbid, &UpdateContext::SavedVersantDbidType},
    {L"VERSANT_DB", &UpdateContext::SavedVersantDb, &UpdateContext::SavedVersantDbType},
    {L"VERSANT_DBID_NODE", &UpdateContext::SavedVersantDbidNode,
     &UpdateContext::SavedVersantDbidNodeType},
};
constexpr int kDatabaseVariableCount = 3;

const wchar_t* TypeName(unsigned long type) {
  switch (type) {
    case REG_SZ: return L"REG_SZ";
    case REG_EXPAND_SZ: return L"REG_EXPAND_SZ";
    case REG_DWORD: return L"REG_DWORD";
    case REG_QWORD: return L"REG_QWORD";
    case REG_MULTI_SZ: return L"REG_MULTI_SZ";
    case REG_BINARY: return L"REG_BINARY";
    default: return L"another type";
  }
}

// In the run journal: "<type>|<value>".
const wchar_t kSavedSection[] = L"saved";

}  // namespace

void UpdateContext::SaveDatabaseIdentity() {
  for (const DatabaseVariable& variable : kDatabaseVariables) {
    // Only text is saved and written back: the text of any other type would
    // come back as a REG_SZ value that nobody ever had.
    DWORD storedType = SystemEnvironmentValueType(variable.name);
    if (storedType != REG_NONE && storedType != REG_SZ && storedType != REG_EXPAND_SZ) {
      (this->*variable.saved).Assign(L"");
      LogLine(L"environment variable %s is of type %s (%lu): not saved, left as it is after the "
              L"update",
              variable.name, TypeName(storedType), storedType);
      continue;
    }
    DWORD savedType = REG_SZ;
    tmk_String& value = this->*variable.saved;
    value.Assign(ReadSystemEnvironmentValue(tmk_String(variable.name), &savedType));
    this->*variable.type = savedType;
    if (value.IsEmpty()) {
      LogLine(L"environment variable %s is not set: left alone after the update", variable.name);
    } else {
      LogLine(L"environment variable %s saved: \"%s\" (%s)", variable.name, value.Text(),
              TypeName(savedType));
    }
  }
}

void UpdateContext::RestoreDatabaseIdentity() {
  // All three are read before any is written.
  tmk_String current[kDatabaseVariableCount];
  for (int i = 0; i < kDatabaseVariableCount; ++i)
    current[i].Assign(ReadSystemEnvironmentValue(kDatabaseVariables[i].name));

  bool changed = false;
  for (int i = 0; i < kDatabaseVariableCount; ++i) {
    const DatabaseVariable& variable = kDatabaseVariables[i];
    const tmk_String& saved = this->*variable.saved;
    // An empty saved value: the variable was not set before, so whatever
    // the installer did to it stays. Letter case alone is no change.
    if (saved.IsEmpty() || _wcsicmp(saved.Text(), current[i].Text()) == 0) continue;
    LogLine(L"environment variable %s changed by the installer to \"%s\": written back as \"%s\"",
            variable.name, current[i].Text(), saved.Text());
    if (WriteSystemEnvironmentValue(variable.name, saved, this->*variable.type) == ERROR_SUCCESS)
      changed = true;
  }
  // Programs started later from the running shell see the restored values.
  if (changed) AnnounceEnvironmentChange();
}

void UpdateContext::RecordSavedValues() {
  SetJournalText(JournalFolder, kSavedSection, L"language", Language);
  for (const DatabaseVariable& variable : kDatabaseVariables) {
    const tmk_String& saved = this->*variable.saved;
    tmk_String entry;
    if (!saved.IsEmpty()) entry.Format(L"%s|%s", TypeName(this->*variable.type), saved.Text());
    SetJournalText(JournalFolder, kSavedSection, variable.name, entry);
  }
  SetJournalText(JournalFolder, kSavedSection, L"complete", L"yes");
}

bool UpdateContext::AdoptSavedValues(const tmk_String& journalFolder) {
  // Written last: without it that run had not saved them.
  if (JournalText(journalFolder, kSavedSection, L"complete").IsEmpty()) return false;
  Language.Assign(JournalText(journalFolder, kSavedSection, L"language").Text());
  for (const DatabaseVariable& variable : kDatabaseVariables) {
    tmk_String entry = JournalText(journalFolder, kSavedSection, variable.name);
    const wchar_t* bar = std::wcschr(entry.Text(), L'|');
    (this->*variable.saved).Assign(bar ? bar + 1 : L"");
    this->*variable.type =
        bar && std::wcsncmp(entry.Text(), L"REG_EXPAND_SZ|", 14) == 0 ? REG_EXPAND_SZ : REG_SZ;
    LogLine(L"environment variable %s as the unfinished run saved it: \"%s\"", variable.name,
            (this->*variable.saved).Text());
  }
  LogLine(L"language as the unfinished run read it: \"%s\"", Language.Text());
  return true;
}
