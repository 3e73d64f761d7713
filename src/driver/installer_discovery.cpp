#include "driver/installer_discovery.h"

#include <io.h>

#include <new>

#include "platform/unique_handle.h"
#include "settings/update_files.h"

void FindInstaller(tmk_String& installerPath, tmk_String& installerFileName,
                   tmk_String updaterFolder) {
  try {
    tmk_String pattern;
    pattern.Format(L"%s\\%s", updaterFolder.Text(), kInstallerPattern);
    _wfinddata64i32_t entry{};
    vskr::UniqueCrtFind search(_wfindfirst64i32(pattern.Text(), &entry));
    if (!search) return;
    do {
      installerPath.Format(L"%s\\%s", updaterFolder.Text(), entry.name);
      installerFileName.Assign(entry.name);
    } while (_wfindnext64i32(search.Get(), &entry) == 0);
  } catch (const std::bad_alloc&) {
    // Out of memory while the outputs were set: they stay as they are.
  }
}
