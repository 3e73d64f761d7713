// The package's list of its files read strictly: what a vendor's build or
// sha256sum writes is taken, anything that could name a file outside the
// package folder, or two lines one file, makes the whole list invalid.
#include <gtest/gtest.h>

#include <string>

#include "package/package_list.h"
#include "support/sandbox.h"

namespace {

using testing_support::Narrow;

const std::string kHeader = "# vskr-package: 1\n";
const std::string kDigest = std::string(64, 'a') + "  ";

TEST(PackageList, EveryPathThatLeavesThePackageFolderMakesTheListInvalid) {
  const char* const refused[] = {
      "/Veskaro/a.dll", "C:/a.dll", "c:a.dll", "Veskaro/a.dll:stream", "Veskaro\\a.dll",
      "Veskaro//a.dll", "Veskaro/", "./a.dll", "Veskaro/../../a.dll", "Veskaro/a.dll.",
      "Veskaro/a.dll ", "Veskaro./a.dll", "nul", "Veskaro/con.txt", "Veskaro/COM1.dll",
      "lpt9", "Veskaro/AUX .txt", "conin$", "Veskaro/a?.dll", "Veskaro/a\x01.dll", ""};
  for (const char* path : refused) {
    SCOPED_TRACE(path);
    PackageList list;
    std::wstring problem;
    EXPECT_EQ(ERROR_INVALID_DATA, list.Parse(kHeader + kDigest + path + "\n", problem));
    EXPECT_NE(std::wstring::npos, problem.find(L"line 2: ")) << Narrow(problem);
  }
}

TEST(PackageList, ReadsWhatShaSumWritesAndNothingElse) {
  const std::string sum = std::string(62, '0') + "Ff";
  const struct {
    std::string bytes;
    DWORD parsed;
    const char* version;  // null: none
  } rows[] = {
      {kHeader + sum + "  Veskaro/Sys2021/\xC3\xA4.exe\n", 0, nullptr},
      {"\xEF\xBB\xBF# a comment\r\n" + kHeader + "# version: 4.2.0.1234\r\n\r\n" + sum +
           " *Veskaro/a.dll",
       0, "4.2.0.1234"},
      {sum + "  Veskaro/a.dll\n", ERROR_INVALID_DATA, nullptr},                 // no header
      {"# vskr-package: 2\n", ERROR_INVALID_DATA, nullptr},                     // another format
      {kHeader + kHeader, ERROR_INVALID_DATA, nullptr},
      {kHeader + "# version: 4.2.0\n", ERROR_INVALID_DATA, nullptr},
      {kHeader + "# version: 4.2.0.1 \n", ERROR_INVALID_DATA, nullptr},
      {kHeader + "# version: 1.2.3.4\n# version: 1.2.3.4\n", ERROR_INVALID_DATA, nullptr},
      {kHeader + sum.substr(1) + "   Veskaro/a.dll\n", ERROR_INVALID_DATA, nullptr},
      {kHeader + sum + " Veskaro/a.dll\n", ERROR_INVALID_DATA, nullptr},
      {kHeader + std::string(64, 'g') + "  Veskaro/a.dll\n", ERROR_INVALID_DATA, nullptr},
      {kHeader + sum + "  Veskaro/A.dll\n" + sum + "  veskaro/a.DLL\n", ERROR_INVALID_DATA,
       nullptr},
      {kHeader + sum + "  Veskaro/\xC3.dll\n", ERROR_INVALID_DATA, nullptr},  // not UTF-8
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.bytes);
    PackageList list;
    std::wstring problem;
    ASSERT_EQ(row.parsed, list.Parse(row.bytes, problem)) << Narrow(problem);
    if (row.parsed) continue;
    EXPECT_EQ(row.version ? testing_support::Widen(row.version) : L"",
              list.HasVersion() ? PackageVersionText(list.Version()) : L"");
    ASSERT_EQ(1u, list.Count());
    EXPECT_EQ(0u, list.Find(L"VESKARO\\" + list.Path(0).substr(8)));
    EXPECT_EQ(0xFF, list.Digest(0)[31]);
  }
}

}  // namespace
