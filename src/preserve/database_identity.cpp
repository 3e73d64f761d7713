// The object database's system environment variables, put back after the
// installer when it changed them.
#include <windows.h>

#include <cwchar>

#include "driver/run_log.h"
#include "preserve/component_registration.h"
#include "settings/system_environment.h"
#include "settings/update_context.h"

namespace {

struct SavedVariable {
  const wchar_t* name;
  const tmk_String& saved;
  unsigned long type;
};

}  // namespace

void UpdateContext::RestoreDatabaseIdentity() {
  // Its result is always 0 and not looked at.
  (void)RegisterVisioEventProcessor();

  const SavedVariable variables[] = {
      {L"VERSANT_DBID", SavedVersantDbid, SavedVersantDbidType},
      {L"VERSANT_DB", SavedVersantDb, SavedVersantDbType},
      {L"VERSANT_DBID_NODE", SavedVersantDbidNode, SavedVersantDbidNodeType},
  };
  // All three are read before any is written.
  tmk_String current[3];
  for (int i = 0; i < 3; ++i) current[i].Assign(ReadSystemEnvironmentValue(variables[i].name));

  bool changed = false;
  for (int i = 0; i < 3; ++i) {
    const SavedVariable& variable = variables[i];
    // An empty saved value: the variable was not set before, so whatever
    // the installer did to it stays. Letter case alone is no change.
    if (variable.saved.IsEmpty() || _wcsicmp(variable.saved.Text(), current[i].Text()) == 0)
      continue;
    LogLine(L"environment variable %s changed by the installer to \"%s\": written back as \"%s\"",
            variable.name, current[i].Text(), variable.saved.Text());
    if (WriteSystemEnvironmentValue(variable.name, variable.saved, variable.type)) changed = true;
  }
  // Programs started later from the running shell see the restored values.
  if (changed) AnnounceEnvironmentChange();
}
