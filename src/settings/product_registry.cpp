// The read side of the product key: the installation's folders and its link
// to the CAD product.
#include "platform/registry_value.h"
#include "platform/run_log.h"
#include "settings/update_context.h"

const wchar_t kProductKey[] = L"SOFTWARE\\Quendris\\VESKARO";

int UpdateContext::ReadProductSettings() {
  vskr::UniqueHkey key;
  LONG opened = OpenMachineKey(kProductKey, KEY_READ, key);
  if (opened != ERROR_SUCCESS) {
    LogFailureUnlessMissing(L"opening the product key", kProductKey, static_cast<DWORD>(opened));
    return 0;
  }

  struct Row {
    const wchar_t* name;
    tmk_String* field;
  };
  const Row rows[] = {
      {L"ROOTPATH", &RootPath},
      {L"EXECUTABLEPATH", &ExecutablePath},
      {L"PROJECT_PATH", &ProjectPath},
      {L"DATABASE_PATH", &DatabasePath},
      {L"ACAD_Profile_Id", &AcadProfileId},
      {L"Based_ACAD_Profile", &BasedAcadProfile},
      {L"Linked_ACAD_Location", &LinkedAcadLocation},
      {L"Linked_ACAD_Product", &LinkedAcadProduct},
      {L"PHI_CONFIGPATH", &PhiConfigPath},
      {L"Linked_ACAD_Id", &LinkedAcadId},
      {L"Linked_CAD_Regkey", &LinkedCadRegkey},
  };
  for (const Row& row : rows) {
    tmk_String value;
    // A missing or oversized value leaves the field as it was.
    LONG status = QueryRegistryText(key.Get(), row.name, 10000, value);
    if (status == ERROR_SUCCESS) {
      row.field->Assign(value.Text());
    } else {
      LogFailureUnlessMissing(L"reading a value of the product key", row.name,
                              static_cast<DWORD>(status));
    }
  }
  return 0;
}

tmk_String ReadProductValue(const tmk_String& name) {
  tmk_String result;
  vskr::UniqueHkey key;
  LONG status = OpenMachineKey(kProductKey, KEY_READ, key);
  // A missing or oversized value leaves the result empty.
  if (status == ERROR_SUCCESS) status = QueryRegistryText(key.Get(), name.Text(), 998, result);
  if (status != ERROR_SUCCESS)
    LogFailureUnlessMissing(L"reading a value of the product key", name.Text(),
                            static_cast<DWORD>(status));
  return result;
}

tmk_String ModuleConfigurationPath(const tmk_String& dataFolder) {
  tmk_String path;
  path.Format(L"%s\\Data\\LocalCfg\\Modules.ini", dataFolder.Text());
  return path;
}
