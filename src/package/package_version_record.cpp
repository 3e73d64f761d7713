#include "package/package_version_record.h"

#include <cwchar>

#include "platform/registry_value.h"
#include "platform/run_log.h"
#include "settings/update_context.h"

namespace {

const wchar_t kVersionValue[] = L"PackageVersion";
const wchar_t kAppliedValue[] = L"PackageApplied";

}  // namespace

DWORD ReadRecordedPackageVersion(bool& recorded, PackageVersion& version) {
  recorded = false;
  vskr::UniqueHkey key;
  tmk_String text;
  LONG status = OpenMachineKey(kProductKey, KEY_QUERY_VALUE, key);
  if (status == ERROR_SUCCESS) status = QueryRegistryText(key.Get(), kVersionValue, 200, text);
  DWORD error = static_cast<DWORD>(status);
  if (IsMissingError(error)) return ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) {
    LogFailure(L"reading the package version recorded in the product key", kVersionValue, error);
    return error;
  }
  recorded = ParsePackageVersion(text.Text(), version);
  if (!recorded)
    LogLine(L"package: the recorded %s \"%s\" is no version a.b.c.d: taken as none recorded",
            kVersionValue, text.Text());
  return ERROR_SUCCESS;
}

DWORD RecordPackageVersion(const PackageVersion& version) {
  SYSTEMTIME now{};
  GetSystemTime(&now);
  wchar_t applied[32];
  std::swprintf(applied, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond);
  const tmk_String versionText(PackageVersionText(version).c_str());
  vskr::UniqueHkey key;
  LONG status = OpenMachineKey(kProductKey, KEY_SET_VALUE, key);
  if (status == ERROR_SUCCESS) status = SetRegistryText(key.Get(), kVersionValue, versionText);
  if (status == ERROR_SUCCESS)
    status = SetRegistryText(key.Get(), kAppliedValue, tmk_String(applied));
  if (status != ERROR_SUCCESS) {
    LogFailureOf(static_cast<DWORD>(status),
                 L"recording the package version %s (%s) in the product key", versionText.Text(),
                 applied);
    return static_cast<DWORD>(status);
  }
  LogLine(L"package version recorded: %s=\"%s\", %s=\"%s\"", kVersionValue, versionText.Text(),
          kAppliedValue, applied);
  return ERROR_SUCCESS;
}
