// TFormatList: the lines of the catalogue list (group headers, and the profiles of expanded
// groups), their selection, and the press, double-click, expand and collapse rules. A profile
// chosen here is stored at once as "FormatName"/"FormatCode"; collapsed states persist under
// "lstformat". No drawing and no widgets: a window draws Items() and forwards presses here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "profiles/settings.h"

namespace profiles {

// One line of the list.
struct TItemInfo {
  bool isProfile = false;  // a profile line
  bool isGroup = false;    // a group header line
  std::string caption;     // the line's text: the group's header or the profile's caption
  bool collapsed = false;  // header only: its profiles are not shown
  int code = 0;            // header: the group index; profile: its profile code

  friend bool operator==(const TItemInfo&, const TItemInfo&) = default;
};

inline constexpr int kLineHeight = 20;     // every line is 20 pixels high
inline constexpr int kExpanderWidth = 20;  // a header press left of this toggles the group

// The list's height in pixels for lineCount lines when the list is built …
int BuiltListHeight(int lineCount);
// … and each time it is shown.
int ShownListHeight(int lineCount);

// What a press or double click did.
struct TPressResult {
  enum TKind {
    None,      // nothing changed
    Toggled,   // a group header was expanded or collapsed
    Selected,  // a profile was chosen: it is stored and is now the current profile
  } kind = None;
  int code = 0;         // Selected: the profile code
  std::string caption;  // Selected: the profile caption
};

// The catalogue list over one settings file. All methods run on the user-interface thread.
class TFormatList {
 public:
  explicit TFormatList(std::string settingsFile);

  // Rebuilds the list: one header per group in catalogue order, collapsed as "lstformat" says
  // (missing = collapsed), each expanded group followed by its profile lines in item order; then
  // selects the line whose text is the stored "FormatName" (SelectText).
  void Build();

  const std::vector<TItemInfo>& Items() const { return items_; }
  int Count() const { return static_cast<int>(items_.size()); }

  // The selected line, -1 when none. Lines inserted or removed above it keep the same line
  // selected; removing the selected line leaves none.
  int ItemIndex() const { return itemIndex_; }
  // Selects a line (the pointer moving over it); an index that is no line selects none.
  void SetItemIndex(int index);

  // The first line whose text is text exactly, -1 when none.
  int IndexOf(std::string_view text) const;
  // Selects the line whose text equals text with the spaces and control characters at both ends
  // removed; none when no line matches. Returns the new ItemIndex().
  int SelectText(std::string_view text);

  // Expands a collapsed header (its profile lines go directly below it, in item order) or
  // collapses an expanded one (exactly the profile lines that follow it go). False, and nothing
  // changes, when index is no header line.
  bool Toggle(int index);

  // A left mouse press on line index, x pixels from the line's left edge. On a header less than
  // 20 pixels in it toggles the group; further in it does nothing. On a profile line it stores
  // "FormatName" = its caption and "FormatCode" = its code, selects the line and returns the
  // profile as the new current one. Anything else does nothing.
  TPressResult Press(int index, int x);
  // A double click on line index: a header toggles wherever it is clicked; other lines, nothing.
  TPressResult DoubleClick(int index);

  // Writes the collapsed state of every header under "lstformat" (key = the group index).
  bool SaveCollapsed() const;

 private:
  void InsertProfiles(int headerIndex);
  void RemoveProfiles(int headerIndex);

  TSettings settings_;
  std::vector<TItemInfo> items_;
  int itemIndex_ = -1;
};

}  // namespace profiles
