// The file list: the source files of the next batch, one row per file with its check box, its five
// column texts and the job record it owns (filesrecord.h). Adding probes each file through the
// engine component and skips folders, duplicates and files the engine refuses. Removing, clearing
// and the check commands follow the list's own rules; the menus' enabling rules are the plain
// functions at the end. Used on the user-interface thread; a window draws it, tests drive it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/filesrecord.h"
#include "batch/sourcefacts.h"
#include "engine/zuzezaviv.h"

namespace batch {

// The list's columns in order, with their captions and widths in pixels.
struct TColumn {
  const char* Caption;
  int Width;
};
inline constexpr TColumn kColumns[] = {
    {"Source", 140}, {"Length", 65}, {"Trimmed Length", 90}, {"Destination File", 120},
    {"Progress", 60}};
inline constexpr int kColumnCount = 5;
inline constexpr int kProgressColumn = 4;

// The shared caption of the Edit menu's and the popup menu's effects entry.
inline constexpr char kEffectsMenuCaption[] = "&Video Effect && Water Mark";

struct TFileRow {
  bool Checked = true;
  // Column texts besides the caption and the output's name: the source's length and trimmed
  // length in whole seconds, and the conversion progress.
  std::string Length, TrimmedLength, Progress;
  std::unique_ptr<TlvFilesRecord> Record;
  // The source as probed when the row was added (nothing when its identity was not known then).
  std::optional<TSourceFacts> Facts;

  // The row's caption: the source path, kept once, in the record.
  const std::string& Caption() const { return Record->SourceFile; }
  // The "Destination File" column: the file name of the record's output path.
  std::string DestinationFile() const;
  std::string ColumnText(int column) const;
};

// The zoom stored for profile `code` ("parazoom"; "lbox" when missing), which new rows and every
// batch take.
std::string ProfileZoom(const std::string& settingsFile, int code);

// A path AddFiles did not add, and why.
struct TSkippedFile {
  std::string Path;
  std::string Reason;  // kFolderReason, kListedReason, or the engine's message
};
inline constexpr char kFolderReason[] = "is a folder";
inline constexpr char kListedReason[] = "is already in the list";

class TFileList {
 public:
  // The list probes files through `engine` (whose task list it clears while adding) and reads the
  // current profile from the two INI files.
  TFileList(engine::TCustomZUzezaVIV& engine, std::string settingsFile, std::string formatFile);

  int RowCount() const { return static_cast<int>(rows_.size()); }
  bool Empty() const { return rows_.empty(); }
  TFileRow& Row(int index) { return rows_.at(index); }
  const TFileRow& Row(int index) const { return rows_.at(index); }
  // The selected row; -1 when none.
  int Selected() const { return selected_; }
  // Selects a row (-1 or an index outside the list: none).
  void Select(int index);

  // Adds the files (in selection order; a file's position is its SelIndex) at the end of the list,
  // checked, each with a new job record, its length from the engine's probe and its output name
  // made for the current profile. Skips folders, paths equal to an existing row's caption, and
  // files the engine cannot open, without a message. Does nothing when the media libraries cannot
  // be loaded. The selection is cleared and the engine's task list is left empty. Returns the
  // number of rows added; `skipped`, when given, receives the paths not added with the reason.
  int AddFiles(const std::vector<std::string>& paths,
               std::vector<TSkippedFile>* skipped = nullptr);
  // Removes the selected row, then selects the row that took its place, or the new last row when
  // the removed row was the last or second to last. False when no row was selected.
  bool RemoveSelected();
  // Clears the engine's task list and removes every row.
  void Clear();

  void CheckAll();
  void UncheckAll();
  void ReverseCheck();
  // Check / uncheck the selected row (nothing without one).
  void CheckSelected();
  void UncheckSelected();
  int CheckedCount() const;

 private:
  engine::TCustomZUzezaVIV& engine_;
  std::string settingsFile_, formatFile_;
  std::vector<TFileRow> rows_;
  int selected_ = -1;
};

// Which entries are enabled when a menu opens.
struct TEditMenuState {
  bool Crop, Trim, Effects, CheckAll, UncheckAll, ReverseCheck, Check, Uncheck;
};
struct TPopupMenuState {
  bool Add, Crop, Trim, Effects, VideoInformation, Remove, Clear, Start;
};
// The Edit menu: every entry needs rows and a selected row.
TEditMenuState EditMenuState(const TFileList& list);
// The list's popup menu: the same condition for all entries but "Add", which stays enabled.
TPopupMenuState PopupMenuState(const TFileList& list);

}  // namespace batch
