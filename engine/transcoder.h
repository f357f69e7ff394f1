// TTranscoder: one run of a task. It builds the run-time tables (which input stream feeds which
// output stream, copied or re-encoded), opens the run's encoders and decoders, writes the output
// headers, reads packets in the order that keeps the outputs in step, decodes, converts and encodes
// them (audio through 16-bit interleaved samples, video turned upright when its stream asks for a
// display rotation, then through crop, scale or the filter graph), writes them through each
// stream's bitstream filters, reports progress, and at the end drains the decoders and encoders
// and writes the trailers. A stop request ends the reading; what was read is
// still flushed and finalised, so a stopped output is complete. Failures raise FFmpegException.
// The destructor closes every codec the run opened (under the codec lock) and frees the tables.
// Used by TCustomFFmpeg only, on the thread that runs the task.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "engine/customffmpeg.h"
#include "media/ffapi.h"
#include "media/pictureconverter.h"
#include "media/pictureshape.h"
#include "media/previewer.h"

namespace engine {

// Microseconds on a monotonic clock: the run's timings (reports, rate emulation).
int64_t RunClock();

class TTranscoder {
  // One step of a picture filter chain: a filter of the media library and its option text.
  struct TFilterStep {
    const char* name;
    const char* args;
  };
  // A short filter chain run on one input stream's decoded pictures in place (the deinterlacer,
  // the upright turn), made anew when the picture's size or format changes.
  struct TPictureFilter {
    AVFilterGraph* graph = nullptr;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    int width = 0, height = 0, format = -1;
    AVFrame* result = nullptr;
  };

 public:
  explicit TTranscoder(TCustomFFmpeg& task);
  ~TTranscoder();
  TTranscoder(const TTranscoder&) = delete;
  TTranscoder& operator=(const TTranscoder&) = delete;

  // The whole run: set-up, packet loop, drain, trailers, last report, Finished.
  void Execute();

 private:
  struct TInputStream {
    int file = 0, index = 0;
    AVStream* st = nullptr;
    bool unused = true;  // no output stream takes it
    bool decodingNeeded = false;
    AVCodecContext* dec = nullptr;
    int64_t readStart = 0;  // µs on the run clock, for rate emulation
    int64_t nextPts = AV_NOPTS_VALUE, pts = 0;  // µs
    bool isStart = true;
    bool pastRecordingTime = false;
    bool multiFrameWarned = false;
    bool flushed = false;  // drained by a join switch
    float quality = 0;      // of the last decoded picture
    AVFrame* frame = nullptr;
    // Decoded audio as 16-bit interleaved samples at the decoder's rate and layout.
    SwrContext* toS16 = nullptr;
    int s16Format = -1, s16Rate = 0;
    AVChannelLayout s16Layout{};
    uint8_t* s16 = nullptr;
    unsigned s16Size = 0;
    // A video stream's pictures as they are meant to be seen: a rotated one is turned upright
    // before anything else (hook, crop, scale, filters) sees it.
    media::TPictureShape shape;
    TPictureFilter deinterlacer, turner;
  };

  struct TOutputStreamRun {
    int file = 0, index = 0;      // output slot and stream index
    int source = -1, sync = -1;   // input stream table indexes
    AVStream* st = nullptr;
    TCustomFFmpeg::TOutputStream* def = nullptr;  // the stream as set up on the output
    int encoderOwner = 0;  // output stream holding the encoder (the first slot's in join mode)
    AVCodecContext* enc = nullptr;  // opened for the run (owned), on the owner only
    const AVCodec* codec = nullptr;
    AVCodecID savedCodecId = AV_CODEC_ID_NONE;
    bool encodingNeeded = false;
    int frameNumber = 0;
    int64_t syncOpts = 0;  // encoder time-base units: samples (audio) or frames (video)
    bool active = true;
    double written = 0;  // latest presentation end of the packets written, s
    int64_t lastDts = AV_NOPTS_VALUE;  // of the last packet written, in the stream's time base
    int64_t packets = 0;               // packets written
    bool gotPacket = false;  // the encoder has delivered at least one packet
    // Last encoded packet's statistics.
    int quality = 0;
    int pictType = 0;
    int64_t error[3] = {};
    // Statistics-file lines of the pictures handed to this encoder, in picture order, each
    // waiting for that picture's own packet (encoders may hand packets out later, and in
    // another order, than the pictures came in).
    struct TStatisticsLine {
      int64_t pts = 0;  // the picture's time, encoder time-base units
      int frame = 0;    // its frame number
      bool arrived = false;  // its packet was written; the fields below are that packet's
      int size = 0, quality = 0, pictType = 0;
      int64_t lumaError = 0;
    };
    std::deque<TStatisticsLine> statistics;
    // Video: crop bands, their initial values with the input size they were made for, scaler.
    int topBand = 0, bottomBand = 0, leftBand = 0, rightBand = 0;
    int initialBands[4] = {};
    int initialWidth = 0, initialHeight = 0;
    bool cropping = false, rescaling = false;
    int resampleWidth = 0, resampleHeight = 0, resamplePixFmt = -1;
    SwsContext* sws = nullptr;
    AVFrame* scaled = nullptr;
    AVFrame* cropped = nullptr;
    AVFilterGraph* graph = nullptr;
    AVFilterContext* filterSource = nullptr;
    AVFilterContext* filterSink = nullptr;
    AVFrame* filtered = nullptr;
    // Audio: 16-bit interleaved at the decoder's rate in, the encoder's format, rate and layout out.
    bool audioResample = false;
    SwrContext* swr = nullptr;
    int swrInRate = 0, swrInChannels = 0;  // the input the resampler was made for
    AVAudioFifo* fifo = nullptr;
    AVFrame* converted = nullptr;  // resampler output
    AVFrame* encFrame = nullptr;   // frame handed to the encoder
    int convertedCapacity = 0, encFrameCapacity = 0;  // samples their audio buffers hold
    // Two-pass statistics written by this stream's encoder.
    FILE* logFile = nullptr;
    std::vector<AVBSFContext*> bsfs;
    // Per filter: a reference to the packet it was last given, so that a packet it refuses can
    // go on unchanged.
    std::vector<AVPacket*> bsfInputs;
  };

  // ---- set-up and teardown (runsetup.cpp) ----
  void SetUp();
  void BuildInputStreams();
  void CheckOutputs();
  void MapStreams();
  int FindSource(int slot, int mediaType) const;
  void SetUpStreamCopy(TOutputStreamRun& ost, TInputStream& ist);
  void SetUpEncoding(TOutputStreamRun& ost, TInputStream& ist);
  void BuildFilterGraph(TOutputStreamRun& ost, TInputStream& ist);
  void SetUpPassLog(TOutputStreamRun& ost, int tableIndex);
  AVCodecContext* NewEncoder(TOutputStreamRun& ost) const;
  void OpenEncoders();
  void OpenEncoder(TOutputStreamRun& ost, bool reopen);
  void OpenDecoders();
  void SetUpBitstreamFilters(TOutputStreamRun& ost);
  void MapMetadata();
  void CopyChapters();
  void WriteHeaders();
  void PrintMapping();
  // Encoders of the first slot made anew for the next joined input.
  void ReopenEncoders();
  [[noreturn]] void RaiseAfterMapping(const std::string& text, bool log);

  // ---- packet loop (transcode.cpp) ----
  int ChooseInput();
  void AdjustTimestamps(TInputStream& ist, AVPacket* pkt);
  void JoinSwitch(int file, bool& endLoop);
  int OutputPacket(TInputStream& ist, AVPacket* pkt);
  void TakeFrameTime(TInputStream& ist);
  void HandleDecodedAudio(TInputStream& ist);
  void HandleDecodedVideo(TInputStream& ist);
  void HandleDecodedSubtitle(TInputStream& ist, AVSubtitle& subtitle, const AVPacket* pkt);
  void CopyPacket(TOutputStreamRun& ost, TInputStream& ist, const AVPacket& pkt);
  void FlushEncoders(TInputStream& ist);
  void PrintReport(bool last, int fileIndex);
  // A finished run whose output received no packet has converted nothing: the output is marked
  // for removal and the run fails with "nothing to convert: " and the reason.
  void CheckSomethingWritten();
  int64_t RecordingLimit() const;  // start + recording time, µs; INT64_MAX without limit

  // ---- frame hooks (hooks.cpp) ----
  // Every decoded picture, before it is encoded: deinterlacing (on the stored rows, where the
  // fields are), the turn upright, then the custom hook or the plug-ins, on the picture in place.
  void PreProcessFrame(TInputStream& ist);
  bool Deinterlace(TInputStream& ist);
  // Raises "Cannot turn the picture upright" when the turning filters cannot run.
  void TurnUpright(TInputStream& ist);
  // The picture through the chain (made for its size and format when needed); false leaves the
  // picture as it was. The picture keeps its own times.
  static bool FilterInPlace(TPictureFilter& filter, AVFrame* frame,
                            std::initializer_list<TFilterStep> chain);
  static void FreePictureFilter(TPictureFilter& filter);
  void CustomHook(TInputStream& ist);
  // A picture of the frame's size and format whose samples the run may overwrite: the buffers of
  // the last one, once nothing else holds them any more, else new ones. Null when out of memory.
  AVFrame* HookPicture(const AVFrame* like);
  // The part of a frame of this size the hook reaches (asked once per size, with the rows work
  // in hookRows_); null: all of it.
  const media::TPictureArea* HookArea(int width, int height);
  void SwitchHookOff();
  // The picture handed to the encoder, with its output time in µs.
  void PostHook(const AVFrame* picture, int64_t timeUs);
  void ClosePreviewer();

  // ---- output paths (outputpaths.cpp) ----
  void DoAudioOut(TOutputStreamRun& ost, TInputStream& ist, uint8_t* buf, int size);
  void DrainResampler(TOutputStreamRun& ost);
  void FlushAudio(TOutputStreamRun& ost);
  void QueueConverted(TOutputStreamRun& ost, int samples);  // from ost.converted
  void EncodeAudioFrame(TOutputStreamRun& ost, AVFrame* frame);
  void DoVideoOut(TOutputStreamRun& ost, TInputStream& ist, AVFrame* picture, double syncTime);
  int EncodeVideoFrame(TOutputStreamRun& ost, AVFrame* frame);
  void DoSubtitleOut(TOutputStreamRun& ost, TInputStream& ist, AVSubtitle& subtitle, int64_t pts);
  // Takes every packet the encoder has ready and writes it; returns the bytes written.
  int ReceivePackets(TOutputStreamRun& ost, bool video);
  // Writes the packet through the stream's bitstream filters; the packet is left blank. A packet
  // a filter refuses is logged (or ends the run with stop-on-decode-error) and goes on unchanged.
  void WritePacket(TOutputStreamRun& ost, AVPacket* pkt);
  void FilterPacket(TOutputStreamRun& ost, size_t level, AVPacket* pkt);
  void MuxPacket(TOutputStreamRun& ost, AVPacket* pkt);
  // The packet's statistics go to the line of its picture (by time, else the oldest waiting).
  void NoteStatistics(TOutputStreamRun& owner, int64_t pts, int size);
  // Writes the lines, in picture order, whose packets have arrived; at the end of the stream the
  // lines of pictures that never got a packet are dropped.
  void WriteStatistics(TOutputStreamRun& owner, bool end);
  // Time of the input stream relative to the start time, s.
  double SyncTime(const TInputStream& ist) const;
  AVCodecContext* Enc(const TOutputStreamRun& ost) const {
    return ostreams_[ost.encoderOwner].enc;
  }
  TOutputStreamRun& Owner(const TOutputStreamRun& ost) { return ostreams_[ost.encoderOwner]; }
  // A message logged instead of raised, or raised with stop-on-decode-error.
  void DecodeProblem(const std::string& text);

  TCustomFFmpeg& task_;
  TOptionState& s_;
  std::vector<TInputStream> istreams_;
  struct TFileRange {
    int first = 0, count = 0;
    bool eof = false, noPacket = false;
  };
  std::vector<TFileRange> files_;
  std::vector<TOutputStreamRun> ostreams_;
  int noPacketCount_ = 0;
  int currentFile_ = 0;
  int64_t loopStart_ = 0, lastReport_ = 0;
  int64_t videoBytes_ = 0, audioBytes_ = 0, headerBytes_ = 0;
  int dupFrames_ = 0, dropFrames_ = 0;
  bool dupDropHappened_ = false;
  int qpHistogram_[52] = {};
  uint8_t* subtitleBuffer_ = nullptr;
  FILE* vstats_ = nullptr;
  AVPacket* pkt_ = nullptr;      // read from the inputs
  AVPacket* outPkt_ = nullptr;   // received from encoders
  int frameCounter_ = 0;  // decoded pictures pre-processed so far
  media::TPictureConverter hookConverter_, postConverter_;
  int hookAreaWidth_ = 0, hookAreaHeight_ = 0;  // the frame size hookArea_ was asked for
  std::optional<media::TPictureArea> hookArea_;
  THookRows hookRows_;  // run on the rows as the hook's bitmap is made
  AVFrame* hookPicture_ = nullptr;  // buffers the custom hook writes whole pictures into
  AVFrame* hookSwap_ = nullptr;     // takes the decoder's buffers off a picture
  int64_t lastPostHook_ = 0;
  std::unique_ptr<media::TPreviewer> previewer_;
  int headersWritten_ = 0;  // outputs whose header is written (they get a trailer)
  std::vector<uint8_t> silence_;  // a block with leading silence
};

}  // namespace engine
