// The record that carries what the updater knows about the installation
// through one run. The entry point constructs it once and destroys it at the
// end; ReadProductSettings fills it from the product key, and the steps of
// the layers above (workstation, preserve, package) take it as an argument
// and read and assign its fields directly.
#pragma once

#include <cstdint>

#include "text/tmk_string.h"

class UpdateContext {
 public:
  // Starts with empty strings and sets the three language flags from the product key (a
  // value reading "1", ignoring case). A missing key or value leaves the flags at 0; nothing is
  // reported.
  UpdateContext();
  ~UpdateContext() = default;

  UpdateContext(const UpdateContext&) = delete;
  UpdateContext& operator=(const UpdateContext&) = delete;

  // settings/product_registry.cpp: fills the folders and the CAD product's settings from the product key. A value
  // that is missing or larger than 10000 bytes leaves its field as it was; a value that exists with
  // an empty text empties its field. Returns 0.
  int ReadProductSettings();

  tmk_String RootPath;
  tmk_String ExecutablePath;
  tmk_String DatabasePath;
  tmk_String ProjectPath;
  tmk_String BasedAcadProfile;
  tmk_String AcadProfileId;
  tmk_String LinkedCadRegkey;
  tmk_String LinkedAcadLocation;
  tmk_String LinkedAcadProduct;
  tmk_String LinkedAcadId;
  tmk_String PhiConfigPath;

  uint8_t LanguageGerman = 0;
  uint8_t LanguageEnglish = 0;
  uint8_t LanguageRussian = 0;
};

// The product's registry key under HKEY_LOCAL_MACHINE (64-bit view).
extern const wchar_t kProductKey[];

// settings/product_registry.cpp: one named value of the product key as a
// new string; empty when the key or the value is missing or the value is
// larger than 998 bytes.
tmk_String ReadProductValue(const tmk_String& name);

// The module configuration file "<dataFolder>\Data\LocalCfg\Modules.ini".
tmk_String ModuleConfigurationPath(const tmk_String& dataFolder);
