#include "batch/filelist.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "batch/outputnames.h"
#include "platform/paths.h"
#include "profiles/settings.h"

namespace batch {

namespace {

bool IsFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(std::filesystem::path(path), error);
}

}  // namespace

std::string ProfileZoom(const std::string& settingsFile, int code) {
  return profiles::TSettings(settingsFile).ProfileString(code, "parazoom", "lbox");
}

std::string TFileRow::DestinationFile() const {
  return std::filesystem::path(Record->DestFile).filename().string();
}

std::string TFileRow::ColumnText(int column) const {
  switch (column) {
    case 0: return Caption();
    case 1: return Length;
    case 2: return TrimmedLength;
    case 3: return DestinationFile();
    case kProgressColumn: return Progress;
    default: throw std::out_of_range("no list column " + std::to_string(column));
  }
}

TFileList::TFileList(engine::TCustomZUzezaVIV& engine, std::string settingsFile,
                     std::string formatFile)
    : engine_(engine), settingsFile_(std::move(settingsFile)), formatFile_(std::move(formatFile)) {}

void TFileList::Select(int index) { selected_ = index >= 0 && index < RowCount() ? index : -1; }

int TFileList::AddFiles(const std::vector<std::string>& paths,
                        std::vector<TSkippedFile>* skipped) {
  const auto skip = [skipped](const std::string& path, const std::string& reason) {
    if (skipped) skipped->push_back({path, reason});
  };
  if (!engine_.LoadAVLib(platform::ExecutableFolder() + "/LibAV")) return 0;
  engine_.ClearTasks();
  const int code = profiles::TSettings(settingsFile_).FormatCode();
  const std::string extension = OutputExtension(formatFile_, code);
  const std::string zoom = ProfileZoom(settingsFile_, code);

  // Room for every file at once: a list grown by doubling would hold up to twice its rows.
  rows_.reserve(rows_.size() + paths.size());
  // The names already shown for earlier rows, so that the column shows what a batch of all
  // rows would write, and the sources listed. Both view the rows' records, which stay where
  // they are while files are added.
  std::pmr::monotonic_buffer_resource pool;
  TTakenNames taken(&pool), listed(&pool);
  taken.reserve(rows_.capacity());
  listed.reserve(rows_.capacity());
  for (const TFileRow& row : rows_) {
    taken.insert(row.Record->DestFile);
    listed.insert(row.Caption());
  }
  int added = 0;
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string& path = paths[i];
    if (IsFolder(path)) {
      skip(path, kFolderReason);
      continue;
    }
    if (listed.count(path)) {
      skip(path, kListedReason);
      continue;
    }

    std::string dest = MakeOutputFileName(settingsFile_, path, extension, taken);
    // The identity first: a file changed while it is probed then differs from it at Start.
    const std::optional<TFileIdentity> identity = IdentityOf(path);
    engine::TInputOptions input;
    const int task = engine_.AddTask(path, &input);
    if (task < 0) {
      skip(path, engine_.LastErrMsg);
      continue;
    }
    media::TAVProbe* probe = engine_.InputProbe(task, 0);
    media::TFileStreamInfo info;
    if (probe) probe->GetFileStreamInfo(info);
    const int32_t seconds = info.Duration > 0 ? static_cast<int32_t>(info.Duration / 1'000'000) : 0;

    TFileRow row;
    row.Length = row.TrimmedLength = std::to_string(seconds);
    row.Record = std::make_unique<TlvFilesRecord>();
    row.Record->SelIndex = static_cast<int32_t>(i);
    row.Record->SourceFile = path;
    row.Record->DestFile = std::move(dest);
    row.Record->DurationSec = seconds;
    row.Record->Zoom = zoom;
    if (probe && identity) row.Facts = FactsOf(*probe, *identity);
    const TlvFilesRecord& record = *row.Record;
    rows_.push_back(std::move(row));
    listed.insert(record.SourceFile);
    taken.insert(record.DestFile);
    ++added;
    engine_.ClearTasks();
    selected_ = -1;
  }
  return added;
}

bool TFileList::RemoveSelected() {
  if (selected_ < 0) return false;
  const int removed = selected_;
  rows_.erase(rows_.begin() + removed);
  // The row below moves up into the removed row's place; past the end the last row is taken.
  Select(removed < RowCount() ? removed : RowCount() - 1);
  return true;
}

void TFileList::Clear() {
  if (rows_.empty()) return;
  engine_.ClearTasks();
  rows_.clear();
  selected_ = -1;
}

void TFileList::CheckAll() {
  for (TFileRow& row : rows_) row.Checked = true;
}

void TFileList::UncheckAll() {
  for (TFileRow& row : rows_) row.Checked = false;
}

void TFileList::ReverseCheck() {
  for (TFileRow& row : rows_) row.Checked = !row.Checked;
}

void TFileList::CheckSelected() {
  if (selected_ >= 0) rows_[selected_].Checked = true;
}

void TFileList::UncheckSelected() {
  if (selected_ >= 0) rows_[selected_].Checked = false;
}

int TFileList::CheckedCount() const {
  int count = 0;
  for (const TFileRow& row : rows_) count += row.Checked ? 1 : 0;
  return count;
}

TEditMenuState EditMenuState(const TFileList& list) {
  const bool on = !list.Empty() && list.Selected() >= 0;
  return {on, on, on, on, on, on, on, on};
}

TPopupMenuState PopupMenuState(const TFileList& list) {
  const bool on = !list.Empty() && list.Selected() >= 0;
  return {true, on, on, on, on, on, on, on};
}

}  // namespace batch
