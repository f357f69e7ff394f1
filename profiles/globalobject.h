// TGlobalObject: the application's global object, holding the paths of the two INI files, the
// product title, the version text shown after it and the program's web addresses. The main window
// creates one, fills it and frees it when it closes. Setters ignore an empty value; the two file
// paths are taken only when longer than 3 characters.
#pragma once

#include <string>
#include <string_view>

namespace profiles {

inline constexpr char kProductTitle[] = "Kelto Video Converter";
// The version text shown until the main window shows and puts GetVersionText in its place.
inline constexpr char kInitialVersionText[] = " ver 1.70 ";

// The program's pages, all under one site.
inline constexpr char kWebSite[] = "https://www.keltovideo.example";
inline constexpr char kHelpPageUrl[] = "https://www.keltovideo.example/videoconverter/help.html";
inline constexpr char kWebPageUrl[] = "https://www.keltovideo.example/videoconverter/";
inline constexpr char kSupportPageUrl[] = "https://www.keltovideo.example/support.html";
inline constexpr char kDownloadUrl[] =
    "https://www.keltovideo.example/download/videoconverter-setup.tar.gz";

// A program version: major, minor, third and fourth number.
struct TVersionNumbers {
  int major = 0, minor = 0, third = 0, fourth = 0;
};

// "3.3.0.0" → {3, 3, 0, 0}: up to four "."-separated decimal numbers; missing or unreadable
// numbers are 0.
TVersionNumbers ParseVersion(std::string_view text);
// A blank, the major number, ".", the minor, third and fourth numbers written one after the
// other in decimal, and a closing blank: 3.3.0.0 gives " 3.300 ".
std::string VersionTextOf(const TVersionNumbers& version);
// The running program's version (the project version the build was configured with) as text.
std::string GetVersionText();

// The last n characters of text, or the whole text when it is shorter. Characters are counted in
// UTF-8 code points, so a multi-byte character is never cut.
std::string RightStr(std::string_view text, size_t n);

class TGlobalObject {
 public:
  // Every field empty.
  TGlobalObject() = default;

  // Fills the object as the main window creates it: the settings file path (SettingsFilePath),
  // the format file path (FormatFilePath), kProductTitle, kInitialVersionText and the addresses.
  void Fill();

  const std::string& HelpPage() const { return helpPage_; }
  const std::string& SettingsFile() const { return settingsFile_; }
  const std::string& FormatFile() const { return formatFile_; }
  const std::string& ProductTitle() const { return productTitle_; }
  const std::string& VersionText() const { return versionText_; }
  const std::string& DownloadUrl() const { return downloadUrl_; }
  const std::string& WebPage() const { return webPage_; }

  // Each setter keeps the old value when the new one is empty; SetSettingsFile and SetFormatFile
  // also when it is 3 characters long or shorter.
  void SetHelpPage(const std::string& value);
  void SetSettingsFile(const std::string& value);
  void SetFormatFile(const std::string& value);
  void SetProductTitle(const std::string& value);
  void SetVersionText(const std::string& value);
  void SetDownloadUrl(const std::string& value);
  void SetWebPage(const std::string& value);

 private:
  std::string helpPage_, settingsFile_, formatFile_, productTitle_, versionText_, downloadUrl_,
      webPage_;
};

}  // namespace profiles
