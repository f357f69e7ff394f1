#include "profiles/formatlist.h"

#include <utility>

#include "platform/text.h"
#include "profiles/catalogue.h"

namespace profiles {

namespace {

// Heights of the list in pixels: the build rule caps at 362, the show rule at 386.
constexpr int kBuiltHeightLimit = 363;
constexpr int kBuiltHeightCap = 362;
constexpr int kShownHeightCap = 386;

TItemInfo HeaderLine(int group, bool collapsed) {
  return {.isProfile = false,
          .isGroup = true,
          .caption = Group(group).header,
          .collapsed = collapsed,
          .code = group};
}

// The profile lines of a group in item order; empty slots are no profiles.
std::vector<TItemInfo> ProfileLines(int group) {
  std::vector<TItemInfo> lines;
  const std::vector<std::string>& captions = Group(group).profiles;
  for (int item = 0; item < static_cast<int>(captions.size()); ++item) {
    if (captions[item].empty()) continue;
    lines.push_back({.isProfile = true,
                     .isGroup = false,
                     .caption = captions[item],
                     .collapsed = false,
                     .code = ProfileCode(group, item)});
  }
  return lines;
}

TPressResult ToggledResult() {
  TPressResult result;
  result.kind = TPressResult::Toggled;
  return result;
}

}  // namespace

int BuiltListHeight(int lineCount) {
  return lineCount * kLineHeight < kBuiltHeightLimit ? (lineCount + 1) * kLineHeight
                                                     : kBuiltHeightCap;
}

int ShownListHeight(int lineCount) {
  return lineCount * kLineHeight > kShownHeightCap ? kShownHeightCap
                                                   : lineCount * kLineHeight + kLineHeight;
}

TFormatList::TFormatList(std::string settingsFile) : settings_(std::move(settingsFile)) {}

void TFormatList::Build() {
  items_.clear();
  itemIndex_ = -1;
  for (int group = 0; group < kGroupCount; ++group) {
    const bool collapsed = settings_.GroupCollapsed(group);
    items_.push_back(HeaderLine(group, collapsed));
    if (collapsed) continue;
    std::vector<TItemInfo> profiles = ProfileLines(group);
    items_.insert(items_.end(), std::make_move_iterator(profiles.begin()),
                  std::make_move_iterator(profiles.end()));
  }
  SelectText(settings_.FormatName());
}

void TFormatList::SetItemIndex(int index) { itemIndex_ = index >= 0 && index < Count() ? index : -1; }

int TFormatList::IndexOf(std::string_view text) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[i].caption == text) return i;
  return -1;
}

int TFormatList::SelectText(std::string_view text) {
  itemIndex_ = IndexOf(platform::TrimText(text));
  return itemIndex_;
}

void TFormatList::InsertProfiles(int headerIndex) {
  TItemInfo& header = items_[headerIndex];
  const std::vector<TItemInfo> profiles = ProfileLines(header.code);
  header.collapsed = false;
  items_.insert(items_.begin() + headerIndex + 1, profiles.begin(), profiles.end());
  if (itemIndex_ > headerIndex) itemIndex_ += static_cast<int>(profiles.size());
}

void TFormatList::RemoveProfiles(int headerIndex) {
  items_[headerIndex].collapsed = true;
  const int first = headerIndex + 1;
  int end = first;
  while (end < Count() && items_[end].isProfile) ++end;
  items_.erase(items_.begin() + first, items_.begin() + end);
  if (itemIndex_ >= end)
    itemIndex_ -= end - first;
  else if (itemIndex_ >= first)
    itemIndex_ = -1;
}

bool TFormatList::Toggle(int index) {
  if (index < 0 || index >= Count() || !items_[index].isGroup) return false;
  if (items_[index].collapsed)
    InsertProfiles(index);
  else
    RemoveProfiles(index);
  return true;
}

TPressResult TFormatList::Press(int index, int x) {
  if (index < 0 || index >= Count()) return {};
  const TItemInfo& line = items_[index];
  if (line.isGroup) {
    if (x >= kExpanderWidth) return {};
    Toggle(index);
    return ToggledResult();
  }
  if (!line.isProfile) return {};
  settings_.SetFormatName(line.caption);
  settings_.SetFormatCode(line.code);
  itemIndex_ = index;
  return {.kind = TPressResult::Selected, .code = line.code, .caption = line.caption};
}

TPressResult TFormatList::DoubleClick(int index) {
  return Toggle(index) ? ToggledResult() : TPressResult{};
}

bool TFormatList::SaveCollapsed() const {
  std::vector<std::pair<int, bool>> states;
  for (const TItemInfo& line : items_)
    if (line.isGroup) states.emplace_back(line.code, line.collapsed);
  return settings_.SetGroupsCollapsed(states);
}

}  // namespace profiles
