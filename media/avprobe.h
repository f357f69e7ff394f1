// The probe: opens a media file (or takes a format context another component opened), reads its
// stream information and answers questions about the file and its streams: file facts and tags,
// one audio or video stream's properties, stream kinds and a multi-line description. A probe
// closes only the contexts it opened itself. Used from one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "media/ffbasecomponent.h"

struct AVFormatContext;
struct AVDictionary;
struct AVStream;

namespace media {

// File-level facts. Numeric fields are -1 while no file is open.
struct TFileStreamInfo {
  int64_t StartTime = -1;  // microseconds; -1 when unknown
  int64_t Duration = -1;   // microseconds; -1 when unknown
  int64_t BitRate = -1;    // total bits per second as the format library reports it (0: unknown)
  int64_t Timestamp = -1;  // creation time, seconds since 1970-01-01 00:00 UTC (0: none)
  int Year = -1;           // 0 when the file has no year
  int Track = -1;          // 0 when the file has no track number
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

// One audio stream. Times are in the stream's time base; the US forms in microseconds stay -1
// when the time is unknown (the stream time is then AV_NOPTS_VALUE).
struct TAudioStreamInfo {
  std::string Language;
  std::string CodecName;  // decoder name and long name (GetCodecName)
  int64_t StartTime = -1;
  int64_t StartTimeUS = -1;
  int64_t Duration = -1;
  int64_t DurationUS = -1;
  int64_t BitRate = -1;
  int Channels = -1;
  int SampleRate = -1;
  int SampleFormat = -1;  // AVSampleFormat
};

// One video stream.
struct TVideoStreamInfo {
  std::string Language;
  std::string CodecName;
  int64_t StartTime = -1;
  int64_t StartTimeUS = -1;
  int64_t Duration = -1;
  int64_t DurationUS = -1;
  int64_t BitRate = -1;
  int Height = -1;
  int Width = -1;
  float DisplayAspectRatio = -1.0f;  // sample aspect ratio x Width / Height; 0 when unknown
  int PixelFormat = -1;              // AVPixelFormat
  int FrameRateNum = -1;             // the stream's base frame rate (r_frame_rate)
  int FrameRateDen = -1;
  // How the picture is meant to be seen (media/pictureshape.h): the clockwise turn of its display
  // matrix (0, 90, 180 or 270), the sample aspect of its stored pixels (1:1 when the stream
  // gives none), the picture turned upright, and the size it is seen at.
  int Rotation = -1;
  int SampleAspectNum = -1, SampleAspectDen = -1;
  int UprightWidth = -1, UprightHeight = -1;
  int DisplayWidth = -1, DisplayHeight = -1;
};

class TCustomAVProbe : public TFFBaseComponent {
 public:
  TCustomAVProbe();
  ~TCustomAVProbe() override;
  TCustomAVProbe(const TCustomAVProbe&) = delete;
  TCustomAVProbe& operator=(const TCustomAVProbe&) = delete;

  // Opens a local file (program file name, UTF-8) and reads its stream information.
  // inputFormatName forces a demuxer ("" = detect). Throws std::runtime_error from
  // CheckLibraries; any other failure returns false with LastErrMsg set and no file open.
  bool LoadFile(const std::string& fileName, const std::string& inputFormatName = "");
  // Forgets the current file; closes its context only when LoadFile opened it.
  virtual void CloseFile();
  // Takes a context another component opened (and keeps open while the probe holds it); the probe
  // never closes it. Throws std::runtime_error from CheckLibraries.
  virtual void AttachFormatContext(AVFormatContext* context);
  // Recomputes the file size, stream counts and first stream indexes from the context.
  virtual void RefreshInfo();

  // Queries never throw: they reset their output, report a failure through LastErrMsg and the
  // logger, and return.
  void GetFileStreamInfo(TFileStreamInfo& info);
  // A negative index means the first stream of that kind.
  void GetAudioStreamInfo(int index, TAudioStreamInfo& info);
  void GetVideoStreamInfo(int index, TVideoStreamInfo& info);
  bool IsAudioStream(int index);
  bool IsVideoStream(int index);
  // The program file name of the open file.
  std::string FileName();
  // The short name of the file's demuxer ("mov,mp4,m4a,3gp,3g2,mj2", "mp3", ...).
  std::string FormatName();
  // The multi-line description, each line ended by CR LF; "" with no file. A video stream whose
  // picture is seen turned or stretched says so after its size: ", rotated 90°" and
  // ", display 360x640".
  std::string FileInfoText();

  const std::string& LastErrMsg() const { return lastErrMsg_; }
  // Throws std::runtime_error("LibAVCodec not loaded.") and so on for avcodec, avformat, avutil
  // and swscale, checked in that order.
  void CheckLibraries() const;

  AVFormatContext* FormatContext() const { return formatContext_; }
  bool OwnsContext() const { return ownsContext_; }
  // The format name LoadFile was given; cleared by CloseFile.
  const std::string& InputFormatName() const { return inputFormatName_; }
  // -1 while no file is open.
  int64_t FileSize() const { return fileSize_; }
  int StreamCount() const { return streamCount_; }
  int ProgramCount() const { return programCount_; }
  int AudioStreamCount() const { return audioStreamCount_; }
  // Video streams that carry moving pictures; a cover picture (a still attached to an audio
  // file) is counted apart and is never the first video stream.
  int VideoStreamCount() const { return videoStreamCount_; }
  int CoverPictureCount() const { return coverPictureCount_; }
  int SubtitleStreamCount() const { return subtitleStreamCount_; }
  int FirstAudioStreamIndex() const { return firstAudioStreamIndex_; }
  int FirstVideoStreamIndex() const { return firstVideoStreamIndex_; }
  int FirstSubtitleStreamIndex() const { return firstSubtitleStreamIndex_; }

 protected:
  // Logs text with the probe as sender at a format-library level (AV_LOG_WARNING 24,
  // AV_LOG_ERROR 16) and keeps it in LastErrMsg.
  void ReportError(int level, const std::string& text);
  // Whether stream index exists and is of the media type; reports a missing file or bad index.
  bool StreamIsOfType(int index, int mediaType);

 private:
  // The stream the index names, or null after reporting why there is none.
  AVStream* StreamFor(int index, int mediaType);
  void AddMetadataLines(std::string& out, const AVDictionary* metadata, const std::string& indent);
  void AddStreamLine(std::string& out, int index);

  AVFormatContext* formatContext_ = nullptr;
  bool ownsContext_ = false;
  std::string lastErrMsg_;
  std::string inputFormatName_;
  int64_t fileSize_ = -1;
  int streamCount_ = -1;
  int programCount_ = -1;
  int audioStreamCount_ = -1;
  int videoStreamCount_ = -1;
  int subtitleStreamCount_ = -1;
  int coverPictureCount_ = -1;
  int firstAudioStreamIndex_ = -1;
  int firstVideoStreamIndex_ = -1;
  int firstSubtitleStreamIndex_ = -1;
};

// The probe components create and own.
class TAVProbe final : public TCustomAVProbe {};

}  // namespace media
