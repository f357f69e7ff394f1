// The probe under a hostile media file: opening it, every file and stream record (including
// indexes past the stream table) and the description must answer without fault.
#include "fuzz/targets/fuzztargets.h"
#include "media/avprobe.h"

namespace fuzz {

int Probe(const uint8_t* data, size_t size) {
  LoadMediaLibraries();
  const std::string path =
      WriteWorkFile("probe.media", std::string(reinterpret_cast<const char*>(data), size));
  media::TAVProbe probe;
  if (!probe.LoadFile(path)) return 0;
  media::TFileStreamInfo file;
  probe.GetFileStreamInfo(file);
  for (int index = -1; index <= probe.StreamCount(); ++index) {
    media::TAudioStreamInfo audio;
    media::TVideoStreamInfo video;
    probe.GetAudioStreamInfo(index, audio);
    probe.GetVideoStreamInfo(index, video);
    probe.IsAudioStream(index);
    probe.IsVideoStream(index);
  }
  probe.FormatName();
  probe.FileInfoText();
  probe.RefreshInfo();
  probe.FileInfoText();
  probe.CloseFile();
  return 0;
}

}  // namespace fuzz
