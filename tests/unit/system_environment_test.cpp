// The machine's environment variables in the registry: missing, oversized,
// of expandable type, deleted, in a key that is missing; and the
// announcement of a change to running programs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "settings/system_environment.h"
#include "support/sandbox.h"

namespace {

using namespace testing_support;

class SystemEnvironment : public testing::Test {
 protected:
  void SetUp() override {
    for (const wchar_t* name : {L"VERSANT_DB", L"VERSANT_DBID", L"VERSANT_DBID_NODE"})
      DeleteMachineValue(kEnvironmentKeyPath, name);
  }
  RegistryValue Stored(const wchar_t* name) { return ReadMachineValue(kEnvironmentKeyPath, name); }

  MachineKeySnapshot saved_{kEnvironmentKeyPath};  // puts every value back afterwards
};

TEST_F(SystemEnvironment, TheFixedKeyIsTheSystemsOwn) {
  EXPECT_STREQ(kEnvironmentKeyPath, kSystemEnvironmentKey);
  EXPECT_TRUE(Stored(L"Path").exists);
}

TEST_F(SystemEnvironment, MissingVariableIsEmptyAndCountsAsPlainText) {
  DWORD type = REG_BINARY;
  EXPECT_TRUE(ReadSystemEnvironmentValue(L"VERSANT_DB", &type).IsEmpty());
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
}

TEST_F(SystemEnvironment, ValuesAreReadWithTheirType) {
  SetMachineText(kEnvironmentKeyPath, L"VERSANT_DB", L"%ProgramData%\\Db", REG_EXPAND_SZ);
  SetMachineText(kEnvironmentKeyPath, L"VERSANT_DBID", L"4711", REG_SZ, false);
  const wchar_t inner[] = {L'n', L'o', L'd', L'e', 0, L'x'};
  SetMachineValueBytes(kEnvironmentKeyPath, L"VERSANT_DBID_NODE", REG_MULTI_SZ, inner,
                       sizeof inner);
  DWORD type = REG_NONE;
  EXPECT_STREQ(L"%ProgramData%\\Db", ReadSystemEnvironmentValue(L"VERSANT_DB", &type).Text());
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
  EXPECT_STREQ(L"4711", ReadSystemEnvironmentValue(L"versant_dbid", &type).Text());
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_STREQ(L"node", ReadSystemEnvironmentValue(L"VERSANT_DBID_NODE", &type).Text());
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);  // other types are written back as text
  EXPECT_STREQ(L"4711", ReadSystemEnvironmentValue(L"VERSANT_DBID").Text());
}

TEST_F(SystemEnvironment, ValuesOver2048BytesAreNotTaken) {
  std::wstring full(1024, L'v');
  SetMachineText(kEnvironmentKeyPath, L"VERSANT_DB", full, REG_SZ, false);  // 2048 bytes
  EXPECT_EQ(full, ReadSystemEnvironmentValue(L"VERSANT_DB").Text());
  SetMachineText(kEnvironmentKeyPath, L"VERSANT_DB", full, REG_SZ, true);  // 2050 bytes
  DWORD type = REG_NONE;
  EXPECT_TRUE(ReadSystemEnvironmentValue(L"VERSANT_DB", &type).IsEmpty());
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
}

TEST_F(SystemEnvironment, WrittenTextHasTwiceItsLengthInBytes) {
  EXPECT_EQ(0, WriteSystemEnvironmentValue(L"VERSANT_DB", L"D:\\Db", REG_SZ));
  RegistryValue stored = Stored(L"VERSANT_DB");
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), stored.type);
  EXPECT_EQ(10u, stored.data.size());
  EXPECT_EQ(L"D:\\Db", stored.Units());
}

TEST_F(SystemEnvironment, ExpandableValueStaysExpandable) {
  SetMachineText(kEnvironmentKeyPath, L"VERSANT_DB", L"%ProgramData%\\Db", REG_EXPAND_SZ);
  DWORD type = REG_NONE;
  tmk_String saved = ReadSystemEnvironmentValue(L"VERSANT_DB", &type);
  SetMachineText(kEnvironmentKeyPath, L"VERSANT_DB", L"C:\\Installer\\Db", REG_SZ);  // installer
  EXPECT_EQ(0, WriteSystemEnvironmentValue(L"VERSANT_DB", saved, type));
  RegistryValue stored = Stored(L"VERSANT_DB");
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), stored.type);
  EXPECT_EQ(L"%ProgramData%\\Db", stored.Units());

  EXPECT_EQ(0, WriteSystemEnvironmentValue(L"VERSANT_DBID", L"1", REG_BINARY));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), Stored(L"VERSANT_DBID").type);
}

TEST_F(SystemEnvironment, EmptyValueDeletesTheVariable) {
  SetMachineText(kEnvironmentKeyPath, L"VERSANT_DBID", L"4711");
  SetMachineText(kEnvironmentKeyPath, L"VERSANT_DB", L"D:\\Db");
  EXPECT_EQ(0, WriteSystemEnvironmentValue(L"VERSANT_DBID", L"", REG_SZ));
  EXPECT_FALSE(Stored(L"VERSANT_DBID").exists);
  EXPECT_TRUE(Stored(L"VERSANT_DB").exists);
  EXPECT_NE(0, WriteSystemEnvironmentValue(L"VERSANT_DBID", L"", REG_SZ));  // nothing to delete
  EXPECT_FALSE(Stored(L"VERSANT_DBID").exists);
}

TEST_F(SystemEnvironment, MissingKeyIsCreatedOnlyForAValue) {
  ASSERT_TRUE(saved_.KeyExisted());
  ASSERT_EQ(0u, saved_.SubkeyCount()) << "the key is deleted and rebuilt from its values";
  DeleteMachineKey(kEnvironmentKeyPath);
  EXPECT_TRUE(ReadSystemEnvironmentValue(L"VERSANT_DB").IsEmpty());
  EXPECT_NE(0, WriteSystemEnvironmentValue(L"VERSANT_DB", L"", REG_SZ));
  EXPECT_FALSE(MachineKeySnapshot(kEnvironmentKeyPath).KeyExisted());
  EXPECT_EQ(0, WriteSystemEnvironmentValue(L"VERSANT_DB", L"D:\\Db", REG_SZ));
  RegistryValue stored = Stored(L"VERSANT_DB");
  EXPECT_EQ(10u, stored.data.size());
  EXPECT_EQ(L"D:\\Db", stored.Units());
  saved_.Restore();
  EXPECT_TRUE(Stored(L"Path").exists);
}

// A top-level window on a thread of its own that records the settings
// changes it is told about; `answering` false keeps the thread from taking
// messages until Release().
class ListeningWindow {
 public:
  explicit ListeningWindow(bool answering) : answering_(answering) {
    thread_ = std::thread([this] { Run(); });
    while (!ready_) Sleep(5);
  }
  ~ListeningWindow() {
    Release();
    PostMessageW(window_, WM_CLOSE, 0, 0);
    thread_.join();
    CloseHandle(release_);
  }
  void Release() { SetEvent(release_); }
  std::wstring Heard() const { return heard_; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<ListeningWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_SETTINGCHANGE && self && lParam)
      self->heard_ += reinterpret_cast<const wchar_t*>(lParam) + std::wstring(L";");
    if (message == WM_CLOSE) {
      DestroyWindow(window);
      return 0;
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
  }

  void Run() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &ListeningWindow::Procedure;
    windowClass.lpszClassName = L"VskrSettingsListener";
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(0, L"VskrSettingsListener", L"listener", WS_OVERLAPPED, 0, 0, 10,
                              10, nullptr, nullptr, nullptr, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ready_ = true;
    if (!answering_) WaitForSingleObject(release_, INFINITE);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  }

  bool answering_;
  HANDLE release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> ready_{false};
  HWND window_ = nullptr;
  std::wstring heard_;
  std::thread thread_;
};

TEST(EnvironmentAnnouncement, RunningWindowsHearOfTheChange) {
  ListeningWindow listener(true);
  AnnounceEnvironmentChange();
  EXPECT_EQ(L"Environment;", listener.Heard());
}

TEST(EnvironmentAnnouncement, AWindowThatDoesNotAnswerHoldsItUpAtMostFiveSeconds) {
  ListeningWindow silent(false);
  auto begin = std::chrono::steady_clock::now();
  AnnounceEnvironmentChange();
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  silent.Release();
  EXPECT_LT(seconds, 6.5);
}

}  // namespace
