// measure_wait <runs> <installer ms> [leftover ms]
// Runs the updater <runs> times with the 64-bit installer stand-in, which
// works <installer ms> and optionally leaves a copy of itself running for
// <leftover ms>, and prints per run and as medians:
//   total      the updater's run, from its start to its end
//   installer  the installer's own life, from its creation to its end
//   added      total minus installer: what the updater adds around it
//   before     from the updater's start to the installer's creation
//   after      from the installer's end to the updater's end
//   wait cpu   the updater's processor time (user + kernel) from 200 ms
//              after the installer's creation to its own end, and that as
//              a share of the same wall time
#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "precise_time.h"

namespace {

const wchar_t kRoot[] = L"C:\\vskr_measure";
const wchar_t kFolder[] = L"C:\\vskr_measure\\Update";
const wchar_t kTimesFile[] = L"C:\\vskr_measure\\times.txt";
const wchar_t kInstallerName[] = L"qiro_upd240046_win64.exe";

// Deletes the measuring folder with everything in it (it holds no links).
void DeleteMeasuringFolder() {
  std::wstring from = std::wstring(kRoot) + L'\0';  // the list ends with a second zero
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();
  operation.fFlags = FOF_NO_UI;
  SHFileOperationW(&operation);
}

void CopyFromBin(const wchar_t* name, const std::wstring& target) {
  SHCreateDirectoryExW(nullptr, target.substr(0, target.find_last_of(L'\\')).c_str(), nullptr);
  CopyFileW((std::wstring(L"Y:\\") + name).c_str(), target.c_str(), FALSE);
}

// The updater and the 64-bit installer stand-in in the measuring folder;
// no installation (no product key), and the registration tool's stand-in
// in both framework folders, so that the figures include the registration.
void Prepare() {
  DeleteMeasuringFolder();
  vskr::UniqueHkey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quendris\\VESKARO", 0,
                    KEY_ALL_ACCESS | KEY_WOW64_64KEY, key.Put()) == ERROR_SUCCESS) {
    RegDeleteTreeW(key.Get(), nullptr);
    key.Reset();
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quendris\\VESKARO", KEY_WOW64_64KEY, 0);
  }
  wchar_t windows[MAX_PATH] = {0};
  GetWindowsDirectoryW(windows, MAX_PATH);
  for (const wchar_t* framework : {L"Framework", L"Framework64"}) {
    CopyFromBin(L"standin_tool.exe", std::wstring(windows) + L"\\Microsoft.NET\\" + framework +
                                         L"\\v4.0.30319\\regasm.exe");
  }
  CopyFromBin(L"vskr_updater.exe", std::wstring(kFolder) + L"\\vskr_updater.exe");
  CopyFromBin(L"standin_installer64.exe", std::wstring(kFolder) + L"\\" + kInstallerName);
}

double Seconds(unsigned long long ticks) { return ticks / 1e7; }

unsigned long long CpuTicks(HANDLE process) {
  FILETIME creation, exit, kernel, user;
  if (!GetProcessTimes(process, &creation, &exit, &kernel, &user)) return 0;
  return Ticks(kernel) + Ticks(user);
}

struct Sample {
  unsigned long long at;
  unsigned long long cpu;
};

struct Run {
  double total = 0, installer = 0, added = 0, before = 0, after = 0;
  double waitCpuMs = 0, waitShare = 0, waitWallMs = 0;
  bool ok = false;
};

Run MeasureOnce(const std::wstring& updater) {
  Run run;
  DeleteFileW(kTimesFile);
  std::wstring commandLine = L"\"" + updater + L"\" /quiet";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  unsigned long long start = PreciseNow();
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, kRoot,
                      &startup, &info)) {
    return run;
  }
  vskr::ChildProcess child;
  child.Adopt(info);
  std::vector<Sample> samples;
  while (WaitForSingleObject(child.Process.Get(), 20) == WAIT_TIMEOUT) {
    samples.push_back({PreciseNow(), CpuTicks(child.Process.Get())});
    if (Seconds(PreciseNow() - start) > 120) TerminateProcess(child.Process.Get(), 1);
  }
  unsigned long long end = PreciseNow();
  unsigned long long cpuEnd = CpuTicks(child.Process.Get());

  unsigned long long created = 0, finished = 0;
  FILE* times = _wfopen(kTimesFile, L"rb");
  if (!times) return run;
  int read = std::fscanf(times, "%llu %llu", &created, &finished);
  std::fclose(times);
  if (read != 2) return run;
  run.total = Seconds(end - start);
  run.installer = Seconds(finished - created);
  run.added = run.total - run.installer;
  run.before = Seconds(created - start);
  run.after = Seconds(end - finished);
  unsigned long long from = created + 2000000;  // 200 ms after the installer's creation
  for (const Sample& sample : samples) {
    if (sample.at < from) continue;
    run.waitCpuMs = (cpuEnd - sample.cpu) / 1e4;
    run.waitShare = (cpuEnd - sample.cpu) / static_cast<double>(end - sample.at);
    run.waitWallMs = (end - sample.at) / 1e4;
    break;
  }
  run.ok = true;
  return run;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: measure_wait <runs> <installer ms> [leftover ms]\n");
    return 2;
  }
  int runs = _wtoi(argv[1]);
  std::wstring installerMs = argv[2];
  std::wstring leftoverMs = argc > 3 ? argv[3] : L"";

  Prepare();
  std::wstring updater = std::wstring(kFolder) + L"\\vskr_updater.exe";
  SetEnvironmentVariableW(L"VSKR_INSTALLER_SLEEP_MS", installerMs.c_str());
  SetEnvironmentVariableW(L"VSKR_INSTALLER_TIMES", kTimesFile);
  if (!leftoverMs.empty()) SetEnvironmentVariableW(L"VSKR_INSTALLER_LEFTOVER_MS", leftoverMs.c_str());

  std::printf("installer working %ls ms%s%ls%s, %d runs\n", installerMs.c_str(),
              leftoverMs.empty() ? "" : ", leaving a copy for ", leftoverMs.c_str(),
              leftoverMs.empty() ? "" : " ms", runs);
  std::printf("  %8s %10s %8s %8s %8s %10s %8s\n", "total s", "installer s", "added ms",
              "before ms", "after ms", "wait cpu ms", "cpu %");
  std::vector<double> total, installer, added, before, after, cpu, share;
  double pooledCpuMs = 0, pooledWallMs = 0;
  for (int i = 0; i < runs; ++i) {
    Run run = MeasureOnce(updater);
    if (!run.ok) {
      std::printf("  run %d: no figures\n", i + 1);
      continue;
    }
    std::printf("  %8.3f %10.3f %8.0f %9.0f %8.0f %11.1f %8.3f\n", run.total, run.installer,
                run.added * 1000, run.before * 1000, run.after * 1000, run.waitCpuMs,
                run.waitShare * 100);
    total.push_back(run.total);
    installer.push_back(run.installer);
    added.push_back(run.added);
    before.push_back(run.before);
    after.push_back(run.after);
    cpu.push_back(run.waitCpuMs);
    share.push_back(run.waitShare);
    pooledCpuMs += run.waitCpuMs;
    pooledWallMs += run.waitWallMs;
  }
  std::printf("  median:\n  %8.3f %10.3f %8.0f %9.0f %8.0f %11.1f %8.3f\n", Median(total),
              Median(installer), Median(added) * 1000, Median(before) * 1000,
              Median(after) * 1000, Median(cpu), Median(share) * 100);
  // The system counts processor time in coarse steps; over all runs together
  // the share is the steadier figure.
  std::printf("  processor time while waiting, all runs together: %.0f ms in %.1f s = %.3f %%\n",
              pooledCpuMs, pooledWallMs / 1000, pooledWallMs > 0 ? 100 * pooledCpuMs / pooledWallMs : 0);
  DeleteMeasuringFolder();
  return 0;
}
