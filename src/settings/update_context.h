// The record that carries what the updater knows about the installation
// through one run. The entry point constructs it once and destroys it at the
// end; the operations below fill and use its fields, which they read and
// assign directly. Each operation says in which file it is defined; the
// layers above this one (workstation, preserve, package) define most.
#pragma once

#include <cstdint>

#include "text/tmk_string.h"

class UpdateContext {
 public:
  // Starts with sixteen empty strings and sets the three language flags from the product key (a
  // value reading "1", ignoring case). A missing key or value leaves the flags at 0; nothing is
  // reported.
  UpdateContext();
  // Destroys the strings, Language first, RootPath last (reverse order of declaration).
  ~UpdateContext() = default;

  UpdateContext(const UpdateContext&) = delete;
  UpdateContext& operator=(const UpdateContext&) = delete;

  // settings/product_registry.cpp: fills RootPath to LinkedCadRegkey from the product key. A value
  // that is missing or larger than 10000 bytes leaves its field as it was; a value that exists with
  // an empty text empties its field. Returns 0.
  int ReadProductSettings();

  // workstation/workstation_settings.cpp: reconciles the settings file with the registry, verifies
  // the program folder and completes the CAD launch arguments. 0: the update may go on; 1: the
  // program folder was not verified (the user has seen a message).
  int WriteWorkstationSettings();

  // preserve/prepare_update.cpp: loads the settings, writes the workstation settings, stops the
  // index service and saves what the installer may overwrite (a complete backup copy of each file,
  // or the one an unfinished earlier run left). 0: go ahead; otherwise the run must end with this
  // code: ERROR_PATH_NOT_FOUND when WriteWorkstationSettings failed (the user has seen its
  // message), or the error of a backup copy (the run's own writes have been put back from its
  // journal and the user has been told).
  unsigned long PrepareUpdate();
  // preserve/prepare_update.cpp: starts the index service stop when the index engine is installed;
  // does not wait for it.
  void StopIndexEngine();

  // preserve/database_identity.cpp: saves the three database variables of type REG_SZ or
  // REG_EXPAND_SZ with their types, leaving any other alone (SaveDatabaseIdentity); writes back the
  // saved variables that the installer changed (RestoreDatabaseIdentity). RecordSavedValues writes
  // what is written back after the installer (the language and the saved variables) into the
  // run's journal; AdoptSavedValues takes them from an earlier run's journal (false when that run
  // had not recorded them).
  void SaveDatabaseIdentity();
  void RestoreDatabaseIdentity();
  void RecordSavedValues();
  bool AdoptSavedValues(const tmk_String& journalFolder);
  // preserve/restore_after_update.cpp: writes the language into the product key and copies the
  // backup copies back over the installer's files. Returns the error of the first copy-back that
  // failed (0 when none did; a missing backup copy is none).
  unsigned long RestoreAfterUpdate();

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
  tmk_String SettingsFilePath;
  tmk_String SavedVersantDbid;
  tmk_String SavedVersantDb;
  tmk_String SavedVersantDbidNode;
  tmk_String Language;
  // The folder of this run's journal (preserve/run_journal.h); empty until it is written.
  tmk_String JournalFolder;

  // The registry types of the three saved variables (REG_SZ or REG_EXPAND_SZ), so that a restored
  // variable keeps its type.
  unsigned long SavedVersantDbidType = 0;
  unsigned long SavedVersantDbType = 0;
  unsigned long SavedVersantDbidNodeType = 0;

  uint8_t LanguageGerman = 0;
  uint8_t LanguageEnglish = 0;
  uint8_t LanguageRussian = 0;
};

// The product's registry key under HKEY_LOCAL_MACHINE (64-bit view).
extern const wchar_t kProductKey[];

// settings/product_registry.cpp: one named value of the product key as a
// new string; empty when the key or
// the value is missing or the value is larger than 998 bytes.
tmk_String ReadProductValue(const tmk_String& name);
