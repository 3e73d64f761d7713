// The read side of the product key: the installation's folders and its link
// to the CAD product.
#include "settings/registry_value.h"
#include "settings/update_context.h"

int UpdateContext::ReadProductSettings() {
  vskr::UniqueHkey key;
  if (!OpenMachineKey(kProductKey, KEY_READ, key)) return 0;

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
    if (QueryRegistryText(key.Get(), row.name, 10000, value)) row.field->Assign(value.Text());
  }
  return 0;
}

tmk_String ReadProductValue(const tmk_String& name) {
  tmk_String result;
  vskr::UniqueHkey key;
  if (OpenMachineKey(kProductKey, KEY_READ, key)) {
    // Not examined: a missing or oversized value leaves the result empty.
    (void)QueryRegistryText(key.Get(), name.Text(), 998, result);
  }
  return result;
}
