#include "platform/inifile.h"

#include "platform/text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>

namespace platform {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlankChar(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlankChar(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlankChar(s.back())) s.remove_suffix(1);
  return s;
}



bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// "[name]" line: sets *name (trimmed text between '[' and ']' or the line end).
bool ParseSection(std::string_view line, std::string_view* name) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return false;
  line.remove_prefix(1);
  *name = Trim(line.substr(0, line.find(']')));
  return true;
}

// "key=value" line: sets *key (trimmed) and *valueStart (offset of the text after '=').
bool ParseKey(std::string_view line, std::string_view* key, size_t* valueStart) {
  const std::string_view t = Trim(line);
  if (t.empty() || t.front() == '[' || t.front() == ';' || t.front() == '#') return false;
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  *key = Trim(line.substr(0, eq));
  *valueStart = eq + 1;
  return !key->empty();
}

std::string_view Unquote(std::string_view v) {
  v = Trim(v);
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  return v;
}

// The stored form of value: quoted when reading would otherwise change it.
std::string Encode(std::string_view value) {
  const bool quote =
      !value.empty() && (IsBlankChar(value.front()) || IsBlankChar(value.back()) ||
                         (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
  return quote ? "\"" + std::string(value) + "\"" : std::string(value);
}

bool ValidSection(std::string_view s) {
  return !Trim(s).empty() && !HasLineBreak(s) && s.find(']') == std::string_view::npos;
}

bool ValidKey(std::string_view k) {
  const std::string_view t = Trim(k);
  return !t.empty() && !HasLineBreak(k) && k.find('=') == std::string_view::npos &&
         t.front() != '[' && t.front() != ';' && t.front() != '#';
}

// Whole decimal (optional sign) or hexadecimal ("0x", "0X", "$") 32-bit integer.
bool ParseInteger(std::string_view s, int* out) {
  s = Trim(s);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.starts_with("0x") || s.starts_with("0X")) {
    base = 16;
    s.remove_prefix(2);
  } else if (s.starts_with("$")) {
    base = 16;
    s.remove_prefix(1);
  }
  if (s.empty()) return false;
  const uint64_t limit = base == 16 ? 0xFFFFFFFFu : negative ? 0x80000000u : 0x7FFFFFFFu;
  uint64_t v = 0;
  for (char c : s) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f')
      digit = LowerAscii(c) - 'a' + 10;
    else
      return false;
    v = v * base + digit;
    if (v > limit) return false;
  }
  uint32_t bits = static_cast<uint32_t>(v);
  if (negative) bits = 0u - bits;
  *out = static_cast<int32_t>(bits);
  return true;
}

// Reads the whole file. Returns 0, or the errno of the failure (ENOENT for a missing file).
// *mode receives the file's permission bits.
int ReadWholeFile(const std::string& path, std::string* text, mode_t* mode) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st {};
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
  } else {
    *mode = st.st_mode & 07777;
    text->clear();
    text->reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n > 0) {
        text->append(buf, static_cast<size_t>(n));
      } else if (n == 0) {
        break;
      } else if (errno != EINTR) {
        err = errno;
        break;
      }
    }
  }
  ::close(fd);
  return err;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Writes text to path + ".tmp", makes it durable and renames it over path. On failure removes the
// temporary file and returns false with errno set.
bool ReplaceFile(const std::string& path, std::string_view text, const mode_t* keepMode) {
  const std::string tmp = path + ".tmp";
  ::unlink(tmp.c_str());  // a leftover of a writer that was killed; never follow a planted link
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = (!keepMode || ::fchmod(fd, *keepMode) == 0) && WriteAll(fd, text) && ::fsync(fd) == 0;
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    errno = err;
    return false;
  }
  // Make the rename itself durable. The new file is complete either way, so a failure here is not
  // reported.
  std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) folder = ".";
  if (const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

// Holds an exclusive flock on path + ".lock" for its lifetime.
class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd_);
      fd_ = -1;
      errno = err;
      return;
    }
  }
  ~FileLock() {
    if (fd_ >= 0) {
      const int err = errno;
      ::close(fd_);  // releases the lock
      errno = err;
    }
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Locked() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// TIniDocument

TIniDocument::TIniDocument(std::string_view text) {
  if (text.starts_with(kBom)) {
    bom_ = true;
    text.remove_prefix(kBom.size());
  }
  const size_t firstLf = text.find('\n');
  crlf_ = firstLf != std::string_view::npos && firstLf > 0 && text[firstLf - 1] == '\r';
  finalNewline_ = text.empty() || text.back() == '\n';
  while (!text.empty()) {
    const size_t lf = text.find('\n');
    lines_.emplace_back(text.substr(0, lf));
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
  }
}

std::string TIniDocument::Text() const {
  std::string out;
  if (bom_) out += kBom;
  for (size_t i = 0; i < lines_.size(); ++i) {
    out += lines_[i];
    if (i + 1 < lines_.size() || finalNewline_) out += '\n';
  }
  return out;
}

std::string TIniDocument::NewLine(std::string text) const {
  if (crlf_) text += '\r';
  return text;
}

bool TIniDocument::FindSection(std::string_view section, Range* range) const {
  section = Trim(section);
  std::string_view name;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (!ParseSection(lines_[i], &name) || !SameTextAscii(name, section)) continue;
    size_t end = i + 1;
    while (end < lines_.size() && !ParseSection(lines_[end], &name)) ++end;
    *range = {i, end};
    return true;
  }
  return false;
}

size_t TIniDocument::FindKey(const Range& range, std::string_view key) const {
  key = Trim(key);
  std::string_view name;
  size_t valueStart;
  for (size_t i = range.begin + 1; i < range.end; ++i)
    if (ParseKey(lines_[i], &name, &valueStart) && SameTextAscii(name, key)) return i;
  return std::string::npos;
}

bool TIniDocument::Find(std::string_view section, std::string_view key, std::string* value) const {
  Range range;
  if (!FindSection(section, &range)) return false;
  const size_t i = FindKey(range, key);
  if (i == std::string::npos) return false;
  if (value) {
    std::string_view name;
    size_t valueStart = 0;
    ParseKey(lines_[i], &name, &valueStart);
    *value = Unquote(std::string_view(lines_[i]).substr(valueStart));
  }
  return true;
}

std::vector<std::string> TIniDocument::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  Range range;
  if (!FindSection(section, &range)) return keys;
  std::string_view name;
  size_t valueStart;
  for (size_t i = range.begin + 1; i < range.end; ++i) {
    if (!ParseKey(lines_[i], &name, &valueStart)) continue;
    bool seen = false;
    for (const std::string& k : keys) seen = seen || SameTextAscii(k, name);
    if (!seen) keys.emplace_back(name);
  }
  return keys;
}

std::vector<std::string> TIniDocument::Sections() const {
  std::vector<std::string> sections;
  std::string_view name;
  for (const std::string& line : lines_) {
    if (!ParseSection(line, &name)) continue;
    bool seen = false;
    for (const std::string& s : sections) seen = seen || SameTextAscii(s, name);
    if (!seen) sections.emplace_back(name);
  }
  return sections;
}

bool TIniDocument::HasSection(std::string_view section) const {
  Range range;
  return FindSection(section, &range);
}

bool TIniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (!ValidSection(section) || !ValidKey(key) || HasLineBreak(value)) return false;
  section = Trim(section);
  key = Trim(key);
  Range range;
  if (!FindSection(section, &range)) {
    lines_.push_back(NewLine("[" + std::string(section) + "]"));
    lines_.push_back(NewLine(std::string(key) + "=" + Encode(value)));
    finalNewline_ = true;
    return true;
  }
  if (const size_t i = FindKey(range, key); i != std::string::npos) {
    // Keep everything up to the value: indentation, the key's spelling, spaces around '='.
    const std::string& line = lines_[i];
    size_t valueStart = line.find('=') + 1;
    while (valueStart < line.size() && (line[valueStart] == ' ' || line[valueStart] == '\t'))
      ++valueStart;
    lines_[i] = NewLine(line.substr(0, valueStart) + Encode(value));
    return true;
  }
  size_t at = range.end;
  while (at > range.begin + 1 && Trim(lines_[at - 1]).empty()) --at;
  if (at == lines_.size()) finalNewline_ = true;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                NewLine(std::string(key) + "=" + Encode(value)));
  return true;
}

bool TIniDocument::Remove(std::string_view section, std::string_view key) {
  Range range;
  if (!FindSection(section, &range)) return false;
  const size_t i = FindKey(range, key);
  if (i == std::string::npos) return false;
  // The unterminated last line going away leaves the line before it last, and that one was
  // terminated: its line end stays, or a blank line before it would vanish with it.
  if (i + 1 == lines_.size()) finalNewline_ = true;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
  return true;
}

bool TIniDocument::RemoveSection(std::string_view section) {
  bool removed = false;
  Range range;
  while (FindSection(section, &range)) {
    if (range.end == lines_.size()) finalNewline_ = true;  // as in Remove
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(range.begin),
                 lines_.begin() + static_cast<std::ptrdiff_t>(range.end));
    removed = true;
  }
  return removed;
}

// ---------------------------------------------------------------------------------------------
// TIniFile

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

TIniDocument TIniFile::Load() const {
  std::string text;
  mode_t mode;
  if (ReadWholeFile(fileName_, &text, &mode) != 0) return TIniDocument();
  return TIniDocument(text);
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const {
  std::string value;
  return Load().Find(section, key, &value) ? value : std::string(def);
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int def) const {
  std::string text;
  int value;
  return Load().Find(section, key, &text) && ParseInteger(text, &value) ? value : def;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::WriteString(std::string_view section, std::string_view key,
                           std::string_view value) const {
  bool valid = true;
  const bool stored = Update([&](TIniDocument& doc) { return valid = doc.Set(section, key, value); });
  if (!valid) errno = EINVAL;
  return stored && valid;
}

bool TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) const {
  return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) const {
  return WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::DeleteKey(std::string_view section, std::string_view key) const {
  return Update([&](TIniDocument& doc) { return doc.Remove(section, key); });
}

bool TIniFile::EraseSection(std::string_view section) const {
  return Update([&](TIniDocument& doc) { return doc.RemoveSection(section); });
}

bool TIniFile::SectionExists(std::string_view section) const {
  return Load().HasSection(section);
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
  return Load().Find(section, key, nullptr);
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const {
  return Load().Keys(section);
}

std::vector<std::string> TIniFile::ReadSections() const { return Load().Sections(); }

bool TIniFile::Update(const std::function<bool(TIniDocument&)>& change) const {
  FileLock lock(fileName_);
  if (!lock.Locked()) return false;
  std::string old;
  mode_t mode = 0;
  const int err = ReadWholeFile(fileName_, &old, &mode);
  if (err != 0 && err != ENOENT) {
    errno = err;  // never replace a file whose contents could not be read
    return false;
  }
  TIniDocument doc(old);
  if (!change(doc)) return true;
  const std::string text = doc.Text();
  if (text == old) return true;
  return ReplaceFile(fileName_, text, err == 0 ? &mode : nullptr);
}

}  // namespace platform
