#include "platform/inifile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <thread>

#include "tests/support/testdirs.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadText;
using testsupport::WriteText;

using platform::TIniFile;

std::string ToCrlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

class IniFileTest : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::string path = dir.File("settings.ini");
  TIniFile ini{path};
};

// ---------------------------------------------------------------------------------------------
// Reading

constexpr const char* kReadFixture =
    "[Settings]\n"
    "OutPutDir = /home/u/out dir  \n"
    "Quoted=\"  spaced  \"\n"
    "Empty=\n"
    "Url=a=b\n"
    "Name=\xC3\x9Cn\xC3\xAF code\n"
    ";Commented=1\n"
    "#Hashed=1\n"
    "NoEquals\n"
    "Dup=first\n"
    "dup=second\n"
    "[Other]\n"
    "  k = other  \n"
    "[settings]\n"
    "Late=in a second occurrence\n"
    "[Vacant]\n";

TEST_F(IniFileTest, ReadsFollowProfileRules) {
  struct Case {
    const char* section;
    const char* key;
    const char* expected;  // default is "def"
  };
  const Case cases[] = {
      {"Settings", "OutPutDir", "/home/u/out dir"},
      {"SETTINGS", "outputdir", "/home/u/out dir"},
      {"settings", "Quoted", "  spaced  "},
      {"Settings", "Empty", ""},
      {"Settings", "Url", "a=b"},
      {"Settings", "Name", "\xC3\x9Cn\xC3\xAF code"},
      {"Settings", "Commented", "def"},
      {"Settings", ";Commented", "def"},
      {"Settings", "Hashed", "def"},
      {"Settings", "NoEquals", "def"},
      {"Settings", "DUP", "first"},
      {"Settings", "Late", "def"},
      {"other", "K", "other"},
      {"Missing", "k", "def"},
      {"Settings", "Missing", "def"},
  };
  for (const bool crlf : {false, true}) {
    SCOPED_TRACE(crlf ? "CRLF with byte order mark" : "LF");
    WriteText(path, crlf ? "\xEF\xBB\xBF" + ToCrlf(kReadFixture) : kReadFixture);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.section) + "/" + c.key);
      EXPECT_EQ(ini.ReadString(c.section, c.key, "def"), c.expected);
      EXPECT_EQ(ini.ValueExists(c.section, c.key), std::string(c.expected) != "def");
    }
    EXPECT_EQ(ini.ReadSection("SETTINGS"),
              (std::vector<std::string>{"OutPutDir", "Quoted", "Empty", "Url", "Name", "Dup"}));
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Settings", "Other", "Vacant"}));
    EXPECT_TRUE(ini.SectionExists("vacant"));
    EXPECT_TRUE(ini.ReadSection("Vacant").empty());
    EXPECT_FALSE(ini.SectionExists("Missing"));
  }
}

TEST_F(IniFileTest, IntegerAndBoolReadsConvertWholeTextElseDefault) {
  struct Case {
    const char* text;
    int expected;  // default is 77
  };
  const Case cases[] = {
      {"12", 12},
      {"\" 12 \"", 12},
      {"-5", -5},
      {"+7", 7},
      {"007", 7},
      {"0x1F", 31},
      {"0XfF", 255},
      {"$10", 16},
      {"0xFFFFFFFF", -1},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"2147483648", 77},
      {"-2147483649", 77},
      {"0x100000000", 77},
      {"12abc", 77},
      {"1 2", 77},
      {"1.5", 77},
      {"abc", 77},
      {"true", 77},
      {"0x", 77},
      {"-", 77},
      {"", 77},
  };
  std::string text = "[n]\n";
  for (size_t i = 0; i < std::size(cases); ++i)
    text += "k" + std::to_string(i) + "=" + cases[i].text + "\n";
  WriteText(path, text);
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].text);
    EXPECT_EQ(ini.ReadInteger("N", "k" + std::to_string(i), 77), cases[i].expected);
  }
  EXPECT_EQ(ini.ReadInteger("n", "missing", 77), 77);

  WriteText(path, "[b]\none=1\nzero=0\ntwo=2\nword=true\n");
  EXPECT_TRUE(ini.ReadBool("b", "one", false));
  EXPECT_FALSE(ini.ReadBool("b", "zero", true));
  EXPECT_TRUE(ini.ReadBool("b", "two", false));
  EXPECT_TRUE(ini.ReadBool("b", "word", true));
  EXPECT_FALSE(ini.ReadBool("b", "word", false));
  EXPECT_TRUE(ini.ReadBool("b", "missing", true));
}

TEST_F(IniFileTest, EveryReadSeesTheFileAsItIsNow) {
  EXPECT_EQ(ini.ReadString("s", "k", "def"), "def");  // missing file
  EXPECT_TRUE(ini.ReadSections().empty());
  WriteText(path, "[s]\nk=1\n");
  EXPECT_EQ(ini.ReadInteger("s", "k", 0), 1);
  TIniFile other(path);
  ASSERT_TRUE(other.WriteInteger("S", "K", 2));
  EXPECT_EQ(ini.ReadInteger("s", "k", 0), 2);
  std::filesystem::remove(path);
  EXPECT_EQ(ini.ReadInteger("s", "k", 0), 0);
}

// ---------------------------------------------------------------------------------------------
// Writing

constexpr const char* kWriteBefore =
    "; settings of the converter\n"
    "[Settings]\n"
    "OutPutDir=/home/u/videos\n"
    "priority = 2\n"
    "# a hash comment\n"
    "garbage line without equals\n"
    "\n"
    "[formatInfo2101]\n"
    "paraZoom=lbox\n"
    "Description=\"My profile\"\n"
    "\n"
    "[Obsolete]\n"
    "old=1\n"
    "\n"
    "[Last]\n"
    "x=1\n"
    "\n";

constexpr const char* kWriteAfter =
    "; settings of the converter\n"
    "[Settings]\n"
    "OutPutDir=/home/u/videos\n"
    "priority = 0\n"
    "# a hash comment\n"
    "garbage line without equals\n"
    "snapJpg=1\n"
    "\n"
    "[formatInfo2101]\n"
    "paraZoom=crop\n"
    "Description=\"My profile\"\n"
    "\n"
    "[Last]\n"
    "y=\" padded \"\n"
    "\n"
    "[lstformat]\n"
    "g1=0\n";

TEST_F(IniFileTest, WritesChangeOnlyTheirLinesAndKeepLineEndingsAndBom) {
  struct Case {
    const char* name;
    bool crlf;
    bool bom;
    bool finalNewline;
  };
  const Case cases[] = {
      {"LF", false, false, true},
      {"CRLF", true, false, true},
      {"CRLF with byte order mark", true, true, true},
      {"LF, last line unterminated", false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string prefix = c.bom ? "\xEF\xBB\xBF" : "";
    std::string before = prefix + (c.crlf ? ToCrlf(kWriteBefore) : kWriteBefore);
    if (!c.finalNewline) before.erase(before.size() - 2);  // "x=1" without blank line or LF
    WriteText(path, before);

    EXPECT_TRUE(ini.WriteInteger("settings", "PRIORITY", 0));
    EXPECT_TRUE(ini.WriteBool("SETTINGS", "snapJpg", true));
    EXPECT_TRUE(ini.WriteString("FORMATINFO2101", "parazoom", "crop"));
    EXPECT_TRUE(ini.EraseSection("obsolete"));
    EXPECT_TRUE(ini.DeleteKey("last", "X"));
    EXPECT_TRUE(ini.WriteString("Last", "y", " padded "));
    EXPECT_TRUE(ini.WriteBool("lstformat", "g1", false));

    std::string expected = prefix + (c.crlf ? ToCrlf(kWriteAfter) : kWriteAfter);
    if (!c.finalNewline)  // [Last] had no blank line after it
      expected.replace(expected.find("\n\n[lstformat]"), 2, "\n");
    EXPECT_EQ(ReadText(path), expected);
    EXPECT_EQ(ini.ReadString("last", "Y", ""), " padded ");
    EXPECT_EQ(ini.ReadString("formatinfo2101", "description", ""), "My profile");
  }
}

// The last line unterminated and removed: the lines before it keep their line ends, so a blank
// line before it stays a blank line.
TEST_F(IniFileTest, RemovingTheUnterminatedLastLineKeepsTheLinesBeforeIt) {
  WriteText(path, "[a]\nk=1\n\nx=2");
  EXPECT_TRUE(ini.DeleteKey("a", "x"));
  EXPECT_EQ(ReadText(path), "[a]\nk=1\n\n");
  WriteText(path, "[a]\nk=1\n\n[b]\nx=2");
  EXPECT_TRUE(ini.EraseSection("b"));
  EXPECT_EQ(ReadText(path), "[a]\nk=1\n\n");
}

TEST_F(IniFileTest, WrittenValuesReadBackUnchanged) {
  const char* values[] = {"plain", " leading", "trailing\t", "\"quoted\"", "\"", "",
                          "a=b;c#d", "[not a section]", "\xE2\x9C\x93 utf-8"};
  for (size_t i = 0; i < std::size(values); ++i)
    ASSERT_TRUE(ini.WriteString("v", "k" + std::to_string(i), values[i])) << values[i];
  for (size_t i = 0; i < std::size(values); ++i)
    EXPECT_EQ(ini.ReadString("v", "k" + std::to_string(i), "def"), values[i]);
}

TEST_F(IniFileTest, InvalidNamesAndMultiLineValuesAreRefused) {
  WriteText(path, "[s]\nk=1\n");
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  };
  const Case cases[] = {{"s", "k", "two\nlines"}, {"s", "k", "cr\r"}, {"s", "a=b", "1"},
                        {"s", " ", "1"},          {"s", ";c", "1"},   {"a]b", "k", "1"},
                        {"", "k", "1"},           {"s\n", "k", "1"}};
  for (const Case& c : cases) {
    errno = 0;
    EXPECT_FALSE(ini.WriteString(c.section, c.key, c.value)) << c.section << "/" << c.key;
    EXPECT_EQ(errno, EINVAL);
  }
  EXPECT_EQ(ReadText(path), "[s]\nk=1\n");
}

TEST_F(IniFileTest, RemovalsOnAMissingFileSucceedWithoutCreatingIt) {
  EXPECT_TRUE(ini.DeleteKey("s", "k"));
  EXPECT_TRUE(ini.EraseSection("s"));
  EXPECT_TRUE(ini.Update([](platform::TIniDocument& doc) { return !doc.Set("s", "k", "v"); }));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(ini.WriteString("s", "k", "v"));
  EXPECT_EQ(ReadText(path), "[s]\nk=v\n");
}

TEST_F(IniFileTest, UpdateStoresSeveralChangesInOneReplacement) {
  WriteText(path, "[s]\na=1\n");
  EXPECT_TRUE(ini.Update([](platform::TIniDocument& doc) {
    std::string a;
    EXPECT_TRUE(doc.Find("S", "A", &a));
    return doc.Set("s", "a", a + "0") && doc.Set("s", "b", "2") && doc.Set("t", "c", "3");
  }));
  EXPECT_EQ(ReadText(path), "[s]\na=10\nb=2\n[t]\nc=3\n");
}

TEST_F(IniFileTest, RewriteKeepsPermissionsAndAnUnchangedValueLeavesTheFileAlone) {
  WriteText(path, "[s]\nk=1\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(ini.WriteString("s", "k", "2"));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  const ino_t inode = st.st_ino;
  ASSERT_TRUE(ini.WriteString("S", "K", "2"));
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_ino, inode);
}

// ---------------------------------------------------------------------------------------------
// Failures, concurrency and crashes

TEST_F(IniFileTest, WriteIntoImpossibleFolderFailsAndLeavesNothing) {
  WriteText(dir.File("plain"), "x");
  TIniFile bad(dir.File("plain/settings.ini"));  // parent is a regular file: fails even as root
  errno = 0;
  EXPECT_FALSE(bad.WriteString("s", "k", "v"));
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_EQ(bad.ReadString("s", "k", "def"), "def");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST_F(IniFileTest, FailedWriteKeepsOldFileAndRemovesTemporary) {
  const std::string before = "[s]\nk=old\n";
  WriteText(path, before);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A full disk, as far as this process can tell: files may not grow past 1000 bytes.
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1000, 1000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    errno = 0;
    const bool written = ini.WriteString("s", "k", std::string(5000, 'n'));
    ::_exit(written ? 1 : errno == EFBIG ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: write succeeded, 2: wrong errno";
  EXPECT_EQ(ReadText(path), before);
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST_F(IniFileTest, ConcurrentWritersInThreadsAndProcessesLoseNothing) {
  constexpr int kWriters = 3;  // processes, and as many threads
  constexpr int kKeys = 40;
  auto writeKeys = [&](const std::string& who) {
    TIniFile own(path);
    bool ok = true;
    for (int k = 0; k < kKeys; ++k) ok = own.WriteInteger("Shared", who + std::to_string(k), k) && ok;
    return ok;
  };
  std::vector<pid_t> children;
  for (int p = 0; p < kWriters; ++p) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(writeKeys("p" + std::to_string(p) + "_") ? 0 : 1);
    children.push_back(child);
  }
  std::vector<std::thread> threads;
  std::atomic<int> threadFailures{0};
  for (int t = 0; t < kWriters; ++t)
    threads.emplace_back([&, t] {
      if (!writeKeys("t" + std::to_string(t) + "_")) ++threadFailures;
    });
  for (std::thread& t : threads) t.join();
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(threadFailures.load(), 0);
  EXPECT_EQ(ini.ReadSection("shared").size(), size_t{2 * kWriters * kKeys});
  for (const char* who : {"p", "t"})
    for (int w = 0; w < kWriters; ++w)
      for (int k = 0; k < kKeys; ++k) {
        const std::string key = who + std::to_string(w) + "_" + std::to_string(k);
        EXPECT_EQ(ini.ReadInteger("shared", key, -1), k) << key;
      }
}

TEST_F(IniFileTest, KilledWriterLeavesOldOrNewCompleteFile) {
  constexpr size_t kBig = 300000;
  ASSERT_TRUE(ini.WriteString("s", "keep", "1"));
  ASSERT_TRUE(ini.WriteString("s", "big", std::string(kBig, 'a')));
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> pause(0, 20000);  // microseconds before the kill
  int leftovers = 0;
  for (int round = 0; round < 30; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TIniFile writer(path);
      for (int i = 0;; ++i) writer.WriteString("s", "big", std::string(kBig, char('b' + i % 24)));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    const std::string text = ReadText(path);
    ASSERT_EQ(text.size(), std::string("[s]\nkeep=1\nbig=\n").size() + kBig) << "round " << round;
    const std::string big = ini.ReadString("s", "big", "");
    ASSERT_EQ(big, std::string(kBig, big[0])) << "round " << round;
    ASSERT_EQ(text, "[s]\nkeep=1\nbig=" + big + "\n");
    if (std::filesystem::exists(path + ".tmp")) ++leftovers;
  }
  ASSERT_TRUE(ini.WriteString("s", "keep", "2"));  // the next writer copes with a leftover
  EXPECT_EQ(ini.ReadInteger("s", "keep", 0), 2);
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  std::cout << "kills that interrupted a write after its temporary file was made: " << leftovers
            << " of 30\n";
}

TEST_F(IniFileTest, AWriterKilledInsideItsWriteLeavesAWholeFileAndDoesNotHoldUpTheNext) {
  // The writer is killed once its temporary file has begun to grow, that is inside the locked
  // write and before the rename; the settings file must be the old one, whole, and the leftover
  // temporary file and lock file must not stop or delay the next writer.
  constexpr size_t kBig = 8'000'000;
  ASSERT_TRUE(ini.WriteString("s", "keep", "1"));
  ASSERT_TRUE(ini.WriteString("s", "big", std::string(kBig, 'a')));
  const std::string before = ReadText(path);
  const std::string tmp = path + ".tmp";
  bool interrupted = false;
  for (int round = 0; round < 20 && !interrupted; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TIniFile writer(path);
      for (int i = 0;; ++i) writer.WriteString("s", "big", std::string(kBig, char('b' + i % 24)));
    }
    std::error_code error;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (fs::file_size(tmp, error) == 0 || error)
      if (std::chrono::steady_clock::now() > deadline) break;
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_FALSE(error) << "the writer never began a temporary file";
    const std::string text = ReadText(path);
    ASSERT_EQ(text.size(), before.size()) << "round " << round;
    const std::string big = ini.ReadString("s", "big", "");
    ASSERT_EQ(text, "[s]\nkeep=1\nbig=" + std::string(kBig, big.at(0)) + "\n");
    // Killed between its look at the temporary file and the rename: another round.
    interrupted = fs::exists(tmp);
  }
  ASSERT_TRUE(interrupted);
  EXPECT_TRUE(fs::exists(path + ".lock"));

  // The next writer, in a process that an alarm ends should it wait for the dead one's lock.
  const pid_t next = ::fork();
  ASSERT_GE(next, 0);
  if (next == 0) {
    ::alarm(20);
    ::_exit(TIniFile(path).WriteString("s", "keep", "2") ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(next, &status, 0), next);
  ASSERT_TRUE(WIFEXITED(status)) << "the next writer was held up";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ini.ReadInteger("s", "keep", 0), 2);
  EXPECT_EQ(ini.ReadString("s", "big", "").size(), kBig);
  EXPECT_FALSE(fs::exists(tmp));
}

}  // namespace
