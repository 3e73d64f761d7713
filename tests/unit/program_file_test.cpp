// The program file itself: a 32-bit GUI program that asks for administrator
// rights, is DPI-aware, carries its icon and version, and imports nothing
// but system DLLs (so nothing can be planted beside it).
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

#include "support/sandbox.h"

namespace {

using namespace testing_support;

std::wstring UpdaterFile() { return BuildBin() + L"\\vskr_updater.exe"; }

class ProgramFile : public testing::Test {
 protected:
  void SetUp() override {
    image_ = ReadBytes(UpdaterFile());
    ASSERT_GT(image_.size(), 4096u);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image_.data());
    ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos->e_magic);
    nt_ = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image_.data() + dos->e_lfanew);
    ASSERT_EQ(static_cast<DWORD>(IMAGE_NT_SIGNATURE), nt_->Signature);
  }

  // File offset of a relative virtual address.
  size_t Offset(DWORD rva) const {
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt_);
    for (WORD i = 0; i < nt_->FileHeader.NumberOfSections; ++i, ++section) {
      if (rva >= section->VirtualAddress &&
          rva < section->VirtualAddress + section->Misc.VirtualSize)
        return rva - section->VirtualAddress + section->PointerToRawData;
    }
    return 0;
  }

  std::string image_;
  const IMAGE_NT_HEADERS32* nt_ = nullptr;
};

TEST_F(ProgramFile, IsA32BitGuiProgram) {
  EXPECT_EQ(IMAGE_FILE_MACHINE_I386, nt_->FileHeader.Machine);
  EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, nt_->OptionalHeader.Magic);
  EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, nt_->OptionalHeader.Subsystem);
}

TEST_F(ProgramFile, ImportsSystemDllsOnly) {
  const std::set<std::string> system = {"kernel32.dll", "user32.dll", "advapi32.dll",
                                        "shell32.dll",  "ole32.dll",  "msvcrt.dll"};
  const IMAGE_DATA_DIRECTORY& directory =
      nt_->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  ASSERT_NE(0u, directory.VirtualAddress);
  const auto* entry =
      reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image_.data() + Offset(directory.VirtualAddress));
  int count = 0;
  for (; entry->Name != 0; ++entry, ++count) {
    std::string name = image_.data() + Offset(entry->Name);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_TRUE(system.count(name)) << name << " is not a system DLL";
  }
  EXPECT_GT(count, 0);
}

class ProgramResources : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(UpdaterFile().c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(nullptr, module_);
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }
  std::string Resource(LPCWSTR type, LPCWSTR name) {
    HRSRC info = FindResourceW(module_, name, type);
    if (!info) return std::string();
    HGLOBAL loaded = LoadResource(module_, info);
    const char* data = static_cast<const char*>(LockResource(loaded));
    return std::string(data, SizeofResource(module_, info));
  }
  HMODULE module_ = nullptr;
};

TEST_F(ProgramResources, ManifestAsksForAdministratorAndDpiAwareness) {
  std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(std::string::npos,
            manifest.find("level=\"requireAdministrator\" uiAccess=\"false\""));
  EXPECT_NE(std::string::npos, manifest.find(">true</dpiAware>"));
  EXPECT_NE(std::string::npos, manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"));
  EXPECT_NE(std::string::npos, manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"));
}

TEST_F(ProgramResources, IconHasSmallAndLargeImages) {
  std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(101));
  ASSERT_GE(group.size(), 6u);
  const WORD count = *reinterpret_cast<const WORD*>(group.data() + 4);
  std::set<int> sizes;
  for (WORD i = 0; i < count && 6u + 14u * (i + 1) <= group.size(); ++i)
    sizes.insert(static_cast<unsigned char>(group[6 + 14 * i]));
  EXPECT_TRUE(sizes.count(16) && sizes.count(32) && sizes.count(48));
}

TEST_F(ProgramResources, VersionNamesTheProduct) {
  std::string version = Resource(RT_VERSION, MAKEINTRESOURCEW(1));
  ASSERT_FALSE(version.empty());
  std::wstring text(reinterpret_cast<const wchar_t*>(version.data()), version.size() / 2);
  EXPECT_NE(std::wstring::npos, text.find(L"VESKARO Updater"));
  EXPECT_NE(std::wstring::npos, text.find(L"ProductVersion"));
  EXPECT_NE(std::wstring::npos, text.find(L"FileVersion"));
}

}  // namespace
