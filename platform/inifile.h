// Settings files in the INI ("profile") format: sections and keys compared case-insensitively,
// every call reads the file afresh (nothing is cached between calls), and every change rewrites the
// file atomically (temporary file, fsync, rename) under an advisory lock, keeping all other lines,
// their order and spelling, the line ending (LF or CRLF) and a UTF-8 byte order mark as they were.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The parsed text of one INI file, edited in memory. Lines that are not touched by an edit are
// written back byte for byte.
//
// File format as read here:
//  - "[name]" starts a section; the name is the text between '[' and ']' with surrounding spaces
//    and tabs removed. Lines before the first section belong to no section and are never read.
//  - "key=value" lines: the key is the text before the first '=', the value the text after it, each
//    with surrounding spaces and tabs removed; then one pair of double quotes around the whole value
//    is removed ("  \" a \" " reads as " a ").
//  - Lines starting with ';' or '#' are comments; blank lines and lines without '=' are kept but
//    hold no key.
//  - Names are compared ASCII case-insensitively. When a section or key occurs twice, the first
//    occurrence is the one read and changed; later ones are kept as they are (only RemoveSection
//    removes every occurrence).
class TIniDocument {
 public:
  // Parses file text (LF or CRLF line ends, optional UTF-8 byte order mark).
  explicit TIniDocument(std::string_view text = {});

  // The file text: the parsed lines with the original line ending and byte order mark.
  std::string Text() const;

  // True when section holds key; then *value (when not null) receives the value.
  bool Find(std::string_view section, std::string_view key, std::string* value) const;
  // Key names of the first occurrence of section, in file order, each once, original spelling.
  std::vector<std::string> Keys(std::string_view section) const;
  // Section names in file order, each once, original spelling.
  std::vector<std::string> Sections() const;
  // True when a "[section]" line exists, even with no keys under it.
  bool HasSection(std::string_view section) const;

  // Sets key to value. An existing key keeps its line position and spelling (the line becomes
  // "<original key>=<value>"); a new key goes after the last non-blank line of its section; a new
  // section is appended at the end of the text. Values with leading or trailing spaces or tabs, or
  // starting and ending with '"', are written in double quotes so they read back unchanged.
  // Returns false (and changes nothing) when section or key is not a valid name or value holds a
  // line break: names must be non-empty after trimming and without line breaks; a section name
  // must not hold ']'; a key must not hold '=' nor start with '[', ';' or '#'.
  bool Set(std::string_view section, std::string_view key, std::string_view value);
  // Removes the key's line from the section's first occurrence. True when a line was removed.
  bool Remove(std::string_view section, std::string_view key);
  // Removes every occurrence of section: its header and all lines up to the next section.
  // True when something was removed.
  bool RemoveSection(std::string_view section);

 private:
  struct Range {
    size_t begin;  // index of the "[section]" line
    size_t end;    // one past its last line
  };
  bool FindSection(std::string_view section, Range* range) const;
  // Index of the key's line inside range, or npos.
  size_t FindKey(const Range& range, std::string_view key) const;
  std::string NewLine(std::string text) const;

  std::vector<std::string> lines_;  // raw lines without '\n' (a CR of a CRLF end stays on the line)
  bool crlf_ = false;               // the file's line ending, used for lines this class writes
  bool bom_ = false;                // the text started with a UTF-8 byte order mark
  bool finalNewline_ = true;        // the last line was terminated
};

// One INI file on disk, named by its path. The object holds only the path: every read opens, parses
// and closes the file, so changes by other objects, threads or processes are seen at once. A file
// that is missing or cannot be read reads as empty. All methods may be called from any thread.
//
// Writes: each change locks "<path>.lock" (flock, created beside the file and left there), reads the
// current file, applies the change, writes "<path>.tmp", fsyncs it, renames it over the file and
// fsyncs the folder. Concurrent writers in any threads or processes are therefore serialised and
// none loses another's change, and a crash at any moment leaves the old or the new complete file.
// A write that fails returns false with errno set to the cause, leaves the old file unchanged and
// removes its temporary file. An existing file that cannot be read is not overwritten (the write
// fails) so that its contents are never lost. The new file keeps the old file's permission bits.
class TIniFile {
 public:
  explicit TIniFile(std::string fileName);
  const std::string& FileName() const { return fileName_; }

  // The key's value (see TIniDocument for trimming and quotes), or def when the key is absent.
  // A present key with an empty value reads as "".
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // ReadString converted to an integer: the text with surrounding spaces removed must be a whole
  // 32-bit integer, decimal with an optional sign, or hexadecimal with the prefix "0x", "0X" or "$"
  // (at most 0xFFFFFFFF, taken as a 32-bit pattern, so "0xFFFFFFFF" is -1); anything else,
  // including a decimal value out of the 32-bit range, gives def.
  int ReadInteger(std::string_view section, std::string_view key, int def) const;
  // ReadInteger(section, key, def ? 1 : 0) != 0; text such as "true" gives def.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;

  // Set the key (see TIniDocument::Set). Booleans are written "1" and "0". Writing the value a key
  // already has leaves the file untouched. False on failure; errno is EINVAL for an invalid name or
  // a value with a line break.
  bool WriteString(std::string_view section, std::string_view key, std::string_view value) const;
  bool WriteInteger(std::string_view section, std::string_view key, int value) const;
  bool WriteBool(std::string_view section, std::string_view key, bool value) const;

  // Removes the key / every occurrence of the section. True also when there was nothing to remove
  // (the file is then left untouched); false only when the file could not be rewritten.
  bool DeleteKey(std::string_view section, std::string_view key) const;
  bool EraseSection(std::string_view section) const;

  // True when the "[section]" line exists (even with no keys) / when the key exists in the section.
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  // Key names of the section in file order; section names in file order. Each name once.
  std::vector<std::string> ReadSection(std::string_view section) const;
  std::vector<std::string> ReadSections() const;

  // Several changes in one locked read-modify-write cycle and one file replacement (the efficient
  // way to store many keys). change receives the current contents and returns true to store them;
  // the file is not rewritten when it returns false or the text came out unchanged. Returns false
  // only when the file could not be read or rewritten (errno tells why).
  bool Update(const std::function<bool(TIniDocument&)>& change) const;

 private:
  TIniDocument Load() const;

  std::string fileName_;
};

}  // namespace platform
