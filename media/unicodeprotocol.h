// File names handed to the format library, and the library's access to local files.
// FileNameToURL/URLToFileName convert program file names (UTF-8) to and from the names the library
// sees ("unicode:utf8:" + name outside the system code page). Local files are read and written
// through our own I/O on file descriptors; an input can make the library open nothing else.
#pragma once

#include <cstddef>
#include <string>

struct AVDictionary;
struct AVFormatContext;
struct AVInputFormat;

namespace media {

// The prefix of a name that was converted for the library.
inline constexpr char kUnicodeURLPrefix[] = "unicode:utf8:";
// The longest text FileNameToURL gives, in bytes.
inline constexpr size_t kMaxURLLength = 2047;

// The system code page: the character set of the calling thread's C locale
// (nl_langinfo(CODESET), e.g. "UTF-8", or "ANSI_X3.4-1968" before the program calls setlocale).
std::string SystemCodePage();

// The name to give the format library for a program file name (UTF-8):
// - a name whose text before its first colon is a scheme of ":unicode:stream:gopher:http:pipe:rtp:
//   tcp:udp:" (exact case) is returned unchanged, whatever its characters; except that a name that
//   itself starts with "unicode:utf8:" and has more after it is prefixed once more, so that
//   URLToFileName gives it back;
// - otherwise a name that converts to the code page and back to the same text is returned
//   unchanged (the library takes UTF-8 names; the test only decides whether the prefix is needed);
// - any other name (including one that is not valid UTF-8) becomes "unicode:utf8:" + name.
// "C:..." is not a listed scheme and "https:"/"file:" are not either: they go on to the code page
// test. Names whose result would be longer than kMaxURLLength bytes are not supported: the result
// is then "" (which no file open accepts). The one-argument form uses SystemCodePage(); codePage
// is any character set name iconv knows; an unknown one counts as ASCII.
std::string FileNameToURL(const std::string& name);
std::string FileNameToURL(const std::string& name, const std::string& codePage);

// The program file name for a name given to the library: a text of at least 14 bytes starting with
// "unicode:utf8:" loses that prefix; any other text is returned unchanged.
// URLToFileName(FileNameToURL(x)) == x for every supported name x.
std::string URLToFileName(const std::string& url);

// Opens a local file for reading by the format library, through our own I/O, and reads its header
// (avformat_open_input). fileNameOrURL is a program file name or FileNameToURL's result: the file
// opened is URLToFileName(fileNameOrURL), always as a local path (also "http:x.avi" or
// "http://host/x.avi"), and (*ic)->url is FileNameToURL of that name.
// *ic may be null (a context is allocated) or a context from avformat_alloc_context without a pb.
// fmt and options are as for avformat_open_input; "protocol_whitelist" in options is replaced by
// one that allows no protocol, and the context refuses every nested open, so playlists (HLS,
// concat, ...) inside the file can reach neither the network nor other files.
// Returns 0 with *ic open: close it with CloseInputFile, never avformat_close_input. Returns a
// negative AVERROR code with *ic freed and null: AVERROR(ENOENT) (-2) for a missing file, the
// operating system's errno otherwise (EACCES, EISDIR, ...), AVERROR(ENAMETOOLONG) for an
// unsupported long name, or the library's code (AVERROR_INVALIDDATA for data no demuxer accepts).
int OpenInputFile(AVFormatContext** ic, const std::string& fileNameOrURL, const AVInputFormat* fmt,
                  AVDictionary** options);
// Closes a context from OpenInputFile, its I/O context, buffer and file descriptor; sets *ic null.
// Null or already-null contexts are ignored.
void CloseInputFile(AVFormatContext** ic);

// Creates or truncates the local file URLToFileName(fileNameOrURL) (mode 0644 before umask) and
// makes it the output of oc, a context from avformat_alloc_output_context2 without a pb; an
// existing file's contents are replaced. Sets oc->url to FileNameToURL of that name. Files the
// muxer opens itself (a format without a single file, or a second pass over its output) are also
// opened as local files through our I/O. Returns 0, or a negative AVERROR code (errno of the
// failed open, AVERROR(ENAMETOOLONG), AVERROR(EINVAL) for a context that is null, has no format
// or already has a pb) with oc left as it was.
// After av_write_trailer (or on giving up), call CloseOutputFile, then avformat_free_context.
int OpenOutputFile(AVFormatContext* oc, const std::string& fileNameOrURL);
// Writes out what is buffered, frees oc's I/O context and buffer, closes the file and sets
// oc->pb null. Returns 0, or the first write or close error (AVERROR(ENOSPC) for a full disk).
// A context whose pb did not come from OpenOutputFile is left alone (returns 0).
int CloseOutputFile(AVFormatContext* oc);

// Called by the loader whenever libavformat has been bound. The library takes its I/O from us,
// so there is no protocol to register; it records that the file-name protocol is available
// (registering again changes nothing).
void RegisterUnicodeProtocol();
bool UnicodeProtocolRegistered();

}  // namespace media
