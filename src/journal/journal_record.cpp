#include "journal/journal_record.h"

#include <algorithm>
#include <cwchar>

#include "text/lines.h"

namespace {

// Names of the enumerations in the record, in their order.
const wchar_t* const kSlotNames[] = {L"free", L"making", L"held", L"released"};
const wchar_t* const kStageNames[] = {L"none", L"staging", L"switching", L"switched", L"done"};

template <typename Enum, size_t N>
bool EnumFromName(const std::wstring& text, const wchar_t* const (&names)[N], Enum& value) {
  for (size_t i = 0; i < N; ++i) {
    if (text == names[i]) {
      value = static_cast<Enum>(i);
      return true;
    }
  }
  return false;
}

void Line(std::wstring& text, const wchar_t* key, const std::wstring& value) {
  text += key;
  text += L'=';
  text += value;
  text += L"\r\n";
}

const wchar_t* YesNo(bool value) { return value ? L"yes" : L"no"; }

// Applies one "key=value" line of [run]; false for a value that can't be.
bool ReadRunEntry(const std::wstring& key, const std::wstring& value, JournalRecord& record) {
  if (key == L"id") record.id = value;
  else if (key == L"sequence") record.sequence = std::wcstoull(value.c_str(), nullptr, 10);
  else if (key == L"started") record.started = value;
  else if (key == L"process") record.process = std::wcstoul(value.c_str(), nullptr, 10);
  else if (key == L"mode") record.packageMode = value == L"package";
  else if (key == L"program") record.program = value;
  else if (key == L"note") record.endNote = value;
  else if (key == L"language") record.hasLanguage = true, record.language = value;
  else if (key == L"state") {
    if (value != L"running" && value != L"ended") return false;
    record.ended = value == L"ended";
  } else if (key == L"phase") {
    if (value != L"preparing" && value != L"saved") return false;
    record.phase = value == L"saved" ? JournalRecord::Phase::Saved : JournalRecord::Phase::Preparing;
  } else if (key == L"package") {
    return EnumFromName(value, kStageNames, record.packageStage);
  }
  return true;
}

bool ReadFileEntry(const std::wstring& key, const std::wstring& value, RecordedFile& file) {
  if (key == L"name") file.name = value;
  else if (key == L"path") file.path = value;
  else if (key == L"existed") file.existed = value == L"yes";
  else if (key == L"digest") file.digest = value;
  else if (key == L"backup digest") file.backupDigest = value;
  else if (key == L"backup copy") file.backupCopy = value;
  else if (key == L"slot") return EnumFromName(value, kSlotNames, file.slot);
  return true;
}

}  // namespace

std::wstring RecordText(const JournalRecord& record) {
  std::wstring text = L"[run]\r\n";
  Line(text, L"id", record.id);
  Line(text, L"sequence", std::to_wstring(record.sequence));
  Line(text, L"started", record.started);
  Line(text, L"process", std::to_wstring(record.process));
  Line(text, L"mode", record.packageMode ? L"package" : L"update");
  Line(text, L"program", record.program);
  Line(text, L"state", record.ended ? L"ended" : L"running");
  if (!record.endNote.empty()) Line(text, L"note", record.endNote);
  Line(text, L"phase", record.phase == JournalRecord::Phase::Saved ? L"saved" : L"preparing");
  if (record.hasLanguage) Line(text, L"language", record.language);
  Line(text, L"package", kStageNames[static_cast<int>(record.packageStage)]);
  for (const RecordedFile& file : record.files) {
    text += L"\r\n[file]\r\n";
    Line(text, L"name", file.name);
    Line(text, L"path", file.path);
    Line(text, L"existed", YesNo(file.existed));
    Line(text, L"digest", file.digest);
    Line(text, L"slot", kSlotNames[static_cast<int>(file.slot)]);
    Line(text, L"backup digest", file.backupDigest);
    Line(text, L"backup copy", file.backupCopy);
  }
  return text;
}

bool ParseRecord(const std::wstring& text, JournalRecord& record) {
  record = JournalRecord();
  std::wstring section;
  for (const std::wstring& line : vskr::SplitLines(text)) {
    if (line.empty() || line[0] == L';') continue;
    if (line.front() == L'[' && line.back() == L']') {
      section = line.substr(1, line.size() - 2);
      if (section == L"file") record.files.emplace_back();
      continue;
    }
    size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) continue;
    const std::wstring key = line.substr(0, equals), value = line.substr(equals + 1);
    bool known = section == L"run"    ? ReadRunEntry(key, value, record)
                 : section == L"file" ? ReadFileEntry(key, value, record.files.back())
                                      : true;
    if (!known) return false;
  }
  return !record.id.empty() && record.sequence > 0;
}

std::wstring PlanText(const std::vector<PackageReplacement>& plan) {
  std::wstring text;
  for (const PackageReplacement& file : plan)
    text += file.installed + L"|" + file.staged + L"|" + file.aside + L"\r\n";
  return text;
}

bool ParsePlanText(const std::wstring& text, std::vector<PackageReplacement>& plan) {
  plan.clear();
  for (const std::wstring& line : vskr::SplitLines(text)) {
    size_t first = line.find(L'|');
    size_t second = first == std::wstring::npos ? first : line.find(L'|', first + 1);
    if (second == std::wstring::npos) return false;
    plan.push_back({line.substr(0, first), line.substr(first + 1, second - first - 1),
                    line.substr(second + 1)});
  }
  return true;
}

std::vector<std::wstring> JournalsToRemove(const std::vector<JournalSummary>& journals,
                                           const std::wstring& running, size_t kept) {
  std::vector<const JournalSummary*> ended;
  for (const JournalSummary& journal : journals) {
    if (journal.readable && journal.ended && journal.id != running) ended.push_back(&journal);
  }
  std::sort(ended.begin(), ended.end(), [](const JournalSummary* a, const JournalSummary* b) {
    return a->sequence > b->sequence;
  });
  std::vector<std::wstring> removed;
  for (size_t i = kept; i < ended.size(); ++i) removed.push_back(ended[i]->id);
  return removed;
}
