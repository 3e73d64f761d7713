// The package version applied to the installation, under the product key
// (64-bit view) where deployment tools' detection rules can read it:
//   PackageVersion  REG_SZ "a.b.c.d", the version of the last package run
//                   that replaced every file
//   PackageApplied  REG_SZ, when that run ended (UTC, "YYYY-MM-DDTHH:MM:SSZ")
#pragma once

#include <windows.h>

#include "package/package_list.h"

// Reads PackageVersion. Returns 0 with `recorded` true and `version` set,
// or 0 with `recorded` false when none is recorded (no key, no value, or a
// value that is not a version: logged); another error of the registry is
// returned (logged).
[[nodiscard]] DWORD ReadRecordedPackageVersion(bool& recorded, PackageVersion& version);

// Writes PackageVersion and PackageApplied (now). Returns 0 or the
// registry's error (logged).
[[nodiscard]] DWORD RecordPackageVersion(const PackageVersion& version);
