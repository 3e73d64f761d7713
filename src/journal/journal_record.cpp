#include "journal/journal_record.h"

#include <algorithm>
#include <map>

#include "text/lines.h"

namespace {

// Names of the enumerations in the record, in their order.
const wchar_t* const kSlotNames[] = {L"free", L"making", L"held", L"back", L"released"};
const wchar_t* const kStageNames[] = {L"none", L"switching", L"switched", L"done"};
const wchar_t kEndSection[] = L"end";

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

bool Choice(const std::wstring& text, const wchar_t* no, const wchar_t* yes, bool& value) {
  if (text != no && text != yes) return false;
  value = text == yes;
  return true;
}

// A decimal number of digits alone.
bool Number(const std::wstring& text, uint64_t& value) {
  if (text.empty() || text.size() > 19 ||
      text.find_first_not_of(L"0123456789") != std::wstring::npos)
    return false;
  value = std::stoull(text);
  return true;
}

// The "key=value" lines of one section, each key once; taken one by one, so
// that a key nobody takes shows as unknown.
class Fields {
 public:
  bool Add(const std::wstring& key, const std::wstring& value) {
    return values_.emplace(key, value).second;
  }
  bool Take(const wchar_t* key, std::wstring& value) {
    auto found = values_.find(key);
    if (found == values_.end()) return false;
    value = found->second;
    values_.erase(found);
    return true;
  }
  // A key earlier versions wrote only at times: absent is empty.
  void TakeOptional(const wchar_t* key, std::wstring& value) {
    if (!Take(key, value)) value.clear();
  }
  bool AllTaken() const { return values_.empty(); }

 private:
  std::map<std::wstring, std::wstring> values_;
};

struct Section {
  std::wstring name;
  Fields fields;
};

// The sections of `text`; false for a line outside a section or of no form,
// a key twice in a section, or a text that does not end with a line end.
bool SplitSections(const std::wstring& text, std::vector<Section>& sections) {
  if (text.empty() || text.back() != L'\n') return false;
  for (const std::wstring& line : vskr::SplitLines(text)) {
    if (line.empty()) continue;
    if (line.front() == L'[' && line.back() == L']') {
      sections.push_back({line.substr(1, line.size() - 2), Fields()});
      continue;
    }
    size_t equals = line.find(L'=');
    if (equals == std::wstring::npos || sections.empty() ||
        !sections.back().fields.Add(line.substr(0, equals), line.substr(equals + 1)))
      return false;
  }
  return true;
}

bool ReadRun(Fields& run, JournalRecord& record) {
  std::wstring sequence, process, mode, state, phase, stage, values;
  uint64_t number = 0;
  const bool current = record.format == kRecordFormat;
  bool read = run.Take(L"id", record.id) && !record.id.empty() && run.Take(L"sequence", sequence) &&
              Number(sequence, record.sequence) && record.sequence > 0 &&
              run.Take(L"started", record.started) && run.Take(L"process", process) &&
              Number(process, number) && run.Take(L"mode", mode) &&
              Choice(mode, L"update", L"package", record.packageMode) &&
              run.Take(L"program", record.program) && run.Take(L"state", state) &&
              Choice(state, L"running", L"ended", record.ended) && run.Take(L"phase", phase) &&
              run.Take(L"package", stage);
  if (!read) return false;
  record.process = static_cast<unsigned long>(number);
  if (phase != L"preparing" && phase != L"saved") return false;
  record.phase = phase == L"saved" ? JournalRecord::Phase::Saved : JournalRecord::Phase::Preparing;
  if (!current) {
    // Earlier versions staged copies before the switch: nothing was changed
    // yet, and undoing the switch puts nothing back that is not there.
    if (stage == L"staging") stage = kStageNames[static_cast<int>(PackageStage::Switching)];
    run.TakeOptional(L"note", record.endNote);
    run.TakeOptional(L"language", record.language);
    return EnumFromName(stage, kStageNames, record.packageStage);
  }
  return EnumFromName(stage, kStageNames, record.packageStage) &&
         run.Take(L"note", record.endNote) && run.Take(L"language", record.language) &&
         run.Take(L"values", values) && Choice(values, L"due", L"back", record.valuesBack);
}

bool ReadFileSection(Fields& entry, int format, RecordedFile& file) {
  std::wstring existed, slot;
  return entry.Take(L"name", file.name) && !file.name.empty() && entry.Take(L"path", file.path) &&
         entry.Take(L"existed", existed) && Choice(existed, L"no", L"yes", file.existed) &&
         entry.Take(L"digest", file.digest) && entry.Take(L"slot", slot) &&
         EnumFromName(slot, kSlotNames, file.slot) &&
         (format == kRecordFormat || file.slot != RecordedFile::Slot::Back) &&
         entry.Take(L"backup digest", file.backupDigest) &&
         entry.Take(L"backup copy", file.backupCopy) && entry.AllTaken();
}

}  // namespace

std::wstring RecordText(const JournalRecord& record) {
  std::wstring text = L"[run]\r\n";
  Line(text, L"format", std::to_wstring(kRecordFormat));
  Line(text, L"id", record.id);
  Line(text, L"sequence", std::to_wstring(record.sequence));
  Line(text, L"started", record.started);
  Line(text, L"process", std::to_wstring(record.process));
  Line(text, L"mode", record.packageMode ? L"package" : L"update");
  Line(text, L"program", record.program);
  Line(text, L"state", record.ended ? L"ended" : L"running");
  Line(text, L"note", record.endNote);
  Line(text, L"phase", record.phase == JournalRecord::Phase::Saved ? L"saved" : L"preparing");
  Line(text, L"language", record.language);
  Line(text, L"values", record.valuesBack ? L"back" : L"due");
  Line(text, L"package", kStageNames[static_cast<int>(record.packageStage)]);
  Line(text, L"files", std::to_wstring(record.files.size()));
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
  return text + L"\r\n[" + kEndSection + L"]\r\n";
}

bool ParseRecord(const std::wstring& text, JournalRecord& record) {
  record = JournalRecord();
  std::vector<Section> sections;
  if (!SplitSections(text, sections) || sections.empty() || sections[0].name != L"run")
    return false;
  Fields& run = sections[0].fields;
  std::wstring format, files;
  uint64_t count = 2;  // earlier versions always wrote both files
  record.format = 1;
  if (run.Take(L"format", format)) {
    if (format != std::to_wstring(kRecordFormat)) return false;
    record.format = kRecordFormat;
    if (!run.Take(L"files", files) || !Number(files, count)) return false;
    // The end section, empty, and nothing after it.
    if (sections.back().name != kEndSection || !sections.back().fields.AllTaken()) return false;
    sections.pop_back();
  }
  if (!ReadRun(run, record) || !run.AllTaken() || sections.size() != count + 1) return false;
  for (size_t i = 1; i < sections.size(); ++i) {
    record.files.emplace_back();
    if (sections[i].name != L"file" ||
        !ReadFileSection(sections[i].fields, record.format, record.files.back()))
      return false;
  }
  return true;
}

std::wstring PlanText(const std::vector<PackageReplacement>& plan) {
  std::wstring text;
  for (const PackageReplacement& file : plan)
    text += file.installed + L"|" + file.staged + L"|" + file.aside + L"\r\n";
  return text + L"[" + kEndSection + L"]\r\n";
}

bool ParsePlanText(const std::wstring& text, std::vector<PackageReplacement>& plan, int format) {
  plan.clear();
  if (text.empty() || text.back() != L'\n') return format != kRecordFormat && text.empty();
  std::vector<std::wstring> lines = vskr::SplitLines(text);
  if (format == kRecordFormat) {
    if (lines.back() != L"[" + std::wstring(kEndSection) + L"]") return false;
    lines.pop_back();
  }
  for (const std::wstring& line : lines) {
    size_t first = line.find(L'|');
    size_t second = first == std::wstring::npos ? first : line.find(L'|', first + 1);
    if (first == 0 || second == std::wstring::npos || second == first + 1 ||
        second + 1 == line.size() || line.find(L'|', second + 1) != std::wstring::npos)
      return false;
    plan.push_back({line.substr(0, first), line.substr(first + 1, second - first - 1),
                    line.substr(second + 1)});
  }
  return true;
}

bool LeftNothingToPutBack(const JournalRecord& record) {
  for (const RecordedFile& file : record.files) {
    if (file.slot == RecordedFile::Slot::Making || file.slot == RecordedFile::Slot::Held ||
        file.slot == RecordedFile::Slot::Back)
      return false;
  }
  if (record.packageMode)
    return record.packageStage == PackageStage::None || record.packageStage == PackageStage::Done;
  if (!record.valuesBack) return false;
  // Stopped before its backups were complete: each file it may have changed
  // is put back as it was at the start (and then recorded released).
  if (record.phase == JournalRecord::Phase::Preparing) {
    for (const RecordedFile& file : record.files)
      if (!file.path.empty() && file.slot != RecordedFile::Slot::Released) return false;
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
