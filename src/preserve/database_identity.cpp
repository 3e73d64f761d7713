// The object database's system environment variables: saved before the
// installer, put back after it when it changed them.
#include <windows.h>

#include <cwchar>

#include "platform/run_log.h"
#include "preserve/component_registration.h"
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
  return type == REG_EXPAND_SZ ? L"REG_EXPAND_SZ" : L"REG_SZ";
}

}  // namespace

void UpdateContext::SaveDatabaseIdentity() {
  for (const DatabaseVariable& variable : kDatabaseVariables) {
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

DWORD UpdateContext::RestoreDatabaseIdentity() {
  DWORD registration = RegisterVisioEventProcessor();

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
  return registration;
}
