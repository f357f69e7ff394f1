#include "batch/sourcefacts.h"

#include <sys/stat.h>

#include <algorithm>

#include "media/ffapi.h"

namespace batch {

std::optional<TFileIdentity> IdentityOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  TFileIdentity identity;
  identity.Device = status.st_dev;
  identity.Inode = status.st_ino;
  identity.Size = status.st_size;
  identity.ModifiedNs = int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec;
  return identity;
}

TSourceFacts FactsOf(media::TAVProbe& probe, const TFileIdentity& identity) {
  TSourceFacts facts;
  facts.Identity = identity;
  facts.InputFormatName = probe.InputFormatName();
  facts.VideoStreams = probe.VideoStreamCount();
  facts.AudioStreams = probe.AudioStreamCount();
  if (const AVFormatContext* ic = probe.FormatContext())
    facts.LengthUnreliable = (ic->iformat && (ic->iformat->flags & AVFMT_TS_DISCONT)) ||
                             ic->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
  media::TFileStreamInfo file;
  probe.GetFileStreamInfo(file);
  facts.FileStart = file.StartTime;
  facts.FileDuration = file.Duration;
  if (facts.VideoStreams > 0) {
    media::TVideoStreamInfo video;
    probe.GetVideoStreamInfo(-1, video);
    facts.UprightWidth = video.UprightWidth;
    facts.UprightHeight = video.UprightHeight;
    facts.DisplayWidth = video.DisplayWidth;
    facts.DisplayHeight = video.DisplayHeight;
    facts.VideoBitRate = std::max<int64_t>(video.BitRate, 0);
    facts.VideoStart = video.StartTimeUS;
    facts.VideoDuration = video.DurationUS;
  }
  if (facts.AudioStreams > 0) {
    media::TAudioStreamInfo audio;
    probe.GetAudioStreamInfo(-1, audio);
    facts.AudioStart = audio.StartTimeUS;
    facts.AudioDuration = audio.DurationUS;
  }
  return facts;
}

}  // namespace batch
