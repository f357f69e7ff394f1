#include "platform/text.h"

namespace platform {

std::string TrimText(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return std::string(text.substr(begin, end - begin));
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string text) {
  for (char& c : text) c = LowerAscii(c);
  return text;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

namespace {
bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
}  // namespace

size_t CharacterCount(std::string_view text) {
  size_t count = 0;
  for (const char c : text) count += IsContinuationByte(c) ? 0 : 1;
  return count;
}

std::string FirstCharacters(std::string_view text, size_t n) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsContinuationByte(text[i])) continue;
    if (count++ == n) return std::string(text.substr(0, i));
  }
  return std::string(text);
}

std::string FirstBytes(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  size_t end = maxBytes;
  while (end > 0 && IsContinuationByte(text[end])) --end;
  return std::string(text.substr(0, end));
}

}  // namespace platform
