// The settings store under hostile file text: every read must answer without fault, an untouched
// document must give back the same bytes, and a change must read back as written while every line
// it does not own stays as it was, in order.
#include <algorithm>
#include <fstream>
#include <iterator>

#include "fuzz/targets/fuzztargets.h"
#include "platform/inifile.h"

namespace fuzz {
namespace {

constexpr size_t kMaxNames = 12;  // names read per input: enough to reach every kind of line

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin <= text.size()) {
    const size_t end = text.find('\n', begin);
    if (end == std::string::npos) {
      if (begin < text.size()) lines.push_back(text.substr(begin));  // an unterminated last line
      break;
    }
    lines.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

// The lines of before survive a change in after: a changed key differs in its own line only; a
// new key (and section) only adds lines, so before is a subsequence of after.
bool KeepsLines(const std::string& before, const std::string& after, bool changedKey) {
  // The byte order mark is the file's, not its first line's.
  auto body = [](const std::string& text) {
    return text.rfind("\xef\xbb\xbf", 0) == 0 ? text.substr(3) : text;
  };
  const std::vector<std::string> a = Lines(body(before)), b = Lines(body(after));
  if (changedKey) {
    if (a.size() != b.size()) return false;
    size_t differing = 0;
    for (size_t i = 0; i < a.size(); ++i) differing += a[i] != b[i];
    return differing <= 1;
  }
  size_t j = 0;
  for (const std::string& line : a) {
    while (j < b.size() && b[j] != line) ++j;
    if (j == b.size()) return false;
    ++j;
  }
  return true;
}

void ReadEverything(const platform::TIniFile& ini) {
  std::vector<std::string> sections = ini.ReadSections();
  if (sections.size() > kMaxNames) sections.resize(kMaxNames);
  for (const std::string& section : sections) {
    if (!ini.SectionExists(section)) Fail("listed section '" + section + "' does not exist");
    std::vector<std::string> keys = ini.ReadSection(section);
    if (keys.size() > kMaxNames) keys.resize(kMaxNames);
    for (const std::string& key : keys) {
      if (!ini.ValueExists(section, key)) Fail("listed key '" + key + "' does not exist");
      ini.ReadString(section, key, "");
      ini.ReadInteger(section, key, 7);
      ini.ReadBool(section, key, true);
    }
  }
}

}  // namespace

int IniStore(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = SplitInput(data, size, 4);
  const std::string& text = parts[0];

  const platform::TIniDocument parsed(text);
  if (parsed.Text() != text) Fail("an untouched settings text does not come back byte for byte");

  const std::string path = WriteWorkFile("settings.ini", text);
  const platform::TIniFile ini(path);
  ReadEverything(ini);

  // The change: named by the input, else the first key of the first section.
  std::string section = "settings", key = "FuzzKey", value = "1";
  const std::vector<std::string> sections = parsed.Sections();
  if (parts.size() == 4) {
    section = parts[1];
    key = parts[2];
    value = parts[3];
  } else if (!sections.empty()) {
    section = sections.front();
    const std::vector<std::string> keys = parsed.Keys(section);
    if (!keys.empty()) key = keys.front();
    value = text.substr(0, std::min<size_t>(text.find_first_of("\r\n"), 16));
  }

  platform::TIniDocument edited(text);
  const bool existed = edited.Find(section, key, nullptr);
  const bool set = edited.Set(section, key, value);
  if (set) {
    std::string back;
    if (!edited.Find(section, key, &back) || back != value)
      Fail("the value written to [" + section + "] " + key + " reads back as '" + back + "'");
    if (!KeepsLines(text, edited.Text(), existed))
      Fail("a change to [" + section + "] " + key + " lost or reordered another line");
    if (platform::TIniDocument(edited.Text()).Text() != edited.Text())
      Fail("the changed text does not parse back to itself");
  }

  const bool written = ini.WriteString(section, key, value);
  if (written != set) Fail("the file store and the document disagree on a change");
  if (written) {
    if (ini.ReadString(section, key, "\x01") != value) Fail("a written value does not read back");
    if (!ini.WriteInteger(section, key, -1234567) || ini.ReadInteger(section, key, 0) != -1234567)
      Fail("a written integer does not read back");
    // Deleting removes the line of the first occurrence, and only it: a later duplicate of the
    // key may then show.
    std::ifstream file(path, std::ios::binary);
    const std::string before((std::istreambuf_iterator<char>(file)), {});
    if (!ini.DeleteKey(section, key)) Fail("a key could not be deleted");
    std::ifstream again(path, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(again)), {});
    if (Lines(after).size() + 1 != Lines(before).size() || !KeepsLines(after, before, false))
      Fail("deleting a key did not remove exactly its line");
    platform::TIniDocument predicted(before);
    predicted.Remove(section, key);
    std::string shown;
    if (predicted.Find(section, key, &shown) != ini.ValueExists(section, key) ||
        ini.ReadString(section, key, "") != shown)
      Fail("a deleted key reads other than its next occurrence");
  }
  if (!sections.empty()) {
    if (!ini.EraseSection(sections.back()) || ini.SectionExists(sections.back()))
      Fail("an erased section still exists");
  }
  ReadEverything(ini);
  return 0;
}

}  // namespace fuzz
