// The option state of one task: every setting the task's options have made so far, with the
// defaults a new or reset task starts from. Opening an input and adding an output consume parts
// of it (customffmpeg.h); the run reads the rest.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <utility>
#include <array>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
}

namespace engine {

inline constexpr int MAX_FILES = 20;          // inputs and output slots per task
inline constexpr int MAX_STREAMS = 20;        // stream ids and timestamp scales per input
inline constexpr int MAX_STREAM_MAPS = 400;
inline constexpr int MAX_META_DATA_MAPS = 20;

struct TStreamMap {
  int file = 0, stream = 0, syncFile = 0, syncStream = 0;
};

struct TMetaDataMap {
  int outFile = 0, inFile = 0;
};

// A bitstream filter waiting for the next output stream of its media type: the filter's name and
// its option text (what followed the first "=", possibly empty).
struct TBitstreamFilterEntry {
  std::string name;
  std::string args;
};

struct TOptionState {
  std::string formatName;  // "f": forced demuxer for the next input, or muxer of the next output
  int frameWidth = 0, frameHeight = 0;
  float frameAspectRatio = 0;
  int framePixFmt = -1;     // AVPixelFormat, -1 none
  int audioSampleFmt = -1;  // AVSampleFormat, -1 none
  int frameTopBand = 0, frameBottomBand = 0, frameLeftBand = 0, frameRightBand = 0;
  int maxFrames[4] = {INT_MAX, INT_MAX, INT_MAX, INT_MAX};  // video, audio, data, subtitle
  AVRational frameRate = {0, 0};
  float videoQScale = 0;
  std::vector<uint16_t> intraMatrix, interMatrix;  // 64 entries once set; empty = none
  std::string videoRcOverride;                     // empty = none
  bool videoDisable = false;
  int videoDiscard = 0;
  std::string videoCodecName;
  uint32_t videoCodecTag = 0;
  std::string videoLanguage;
  bool sameQuality = false;
  bool doDeinterlace = false;
  int topFieldFirst = -1;
  int meThreshold = 0;
  int intraDcPrecision = 8;
  bool loopInput = false;
  int loopOutput = -1;
  bool qpHist = false;
  std::string vfilters;
  bool intraOnly = false;

  int audioSampleRate = 44100;
  uint64_t channelLayout = 0;  // channel mask, 0 = unspecified
  float audioQScale = -99999;  // none
  bool audioDisable = false;
  int audioChannels = 2;
  std::string audioCodecName;
  uint32_t audioCodecTag = 0;
  std::string audioLanguage;

  bool subtitleDisable = false;
  std::string subtitleCodecName;
  std::string subtitleLanguage;
  uint32_t subtitleCodecTag = 0;

  float muxPreload = 0.5f;   // s
  float muxMaxDelay = 0.7f;  // s
  int64_t recordingTime = INT64_MAX;  // µs, no limit
  int64_t startTime = 0;              // µs
  int64_t recTimestamp = 0;           // s since 1970
  int64_t inputTsOffset = 0;          // µs
  std::vector<std::pair<std::string, std::string>> metadata;  // for the next output
  bool doPktDump = false, doHexDump = false, doPSNR = false;
  int doPass = 0;
  std::string passLogFileName;
  bool audioStreamCopy = false, videoStreamCopy = false, subtitleStreamCopy = false;
  int videoSyncMethod = -1;
  int audioSyncMethod = 0;
  float audioDriftThreshold = 0.1f;  // s
  bool copyTs = false;
  bool optShortest = false;
  int videoGlobalHeader = 0;
  std::string vstatsFileName;
  int optProgramID = 0;
  int copyInitialNonKeyframes = 0;
  bool rateEmu = false;
  int videoChannel = 0;
  std::string videoStandard;
  int audioVolume = 256;  // 256 = unchanged
  bool exitOnError = false;
  int verbose = 1;
  int threadCount = 0;  // 0 = automatic
  bool inputSync = false;
  int64_t limitFileSize = 0;  // bytes, 0 = none
  bool forceFps = false;
  float dtsDeltaThreshold = 10.0f;  // s
  int swsFlags = SWS_BICUBIC;
  std::vector<TStreamMap> streamMaps;
  std::vector<TMetaDataMap> metaDataMaps;
  int streamidMap[MAX_STREAMS] = {};
  // Per input (only those given a scale), per stream; 0 = no scaling. Kept sparse: a task of one
  // input would otherwise carry room for twenty.
  std::vector<std::array<double, MAX_STREAMS>> inputFilesTsScale;
  std::vector<TBitstreamFilterEntry> audioBitstreamFilters, videoBitstreamFilters,
      subtitleBitstreamFilters;
  bool usingVhook = false;
  bool pgmyuvCompatibility = false;
  int encodeBufferSize = 262144;
};

}  // namespace engine
