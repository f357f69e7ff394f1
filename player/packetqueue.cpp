#include "player/packetqueue.h"

#include "media/ffapi.h"

namespace player {
namespace {

// A list node's share of the byte size, as the back-pressure limits count it.
constexpr int64_t kNodeSize = 16;
const char kFlushText[] = "FLUSH";

}  // namespace

AVPacket* FlushPacket() {
  static AVPacket packet = [] {
    AVPacket p{};
    p.data = reinterpret_cast<uint8_t*>(const_cast<char*>(kFlushText));
    p.pts = p.dts = AV_NOPTS_VALUE;
    p.pos = -1;
    return p;
  }();
  return &packet;
}

bool IsFlushPacket(const AVPacket* packet) {
  return packet && packet->data == reinterpret_cast<const uint8_t*>(kFlushText);
}

TPacketQueue::~TPacketQueue() { Flush(); }

void TPacketQueue::Start() {
  {
    std::lock_guard guard(lock_);
    aborted_ = false;
  }
  Put(FlushPacket());
}

bool TPacketQueue::Put(const AVPacket* packet) {
  AVPacket* copy = nullptr;
  if (IsFlushPacket(packet)) {
    copy = ff::av_packet_alloc();
    if (!copy) return false;
    copy->data = packet->data;
    copy->pts = copy->dts = AV_NOPTS_VALUE;
  } else {
    copy = ff::av_packet_alloc();
    if (!copy) return false;
    if (ff::av_packet_ref(copy, packet) < 0) {
      ff::av_packet_free(&copy);
      return false;
    }
  }
  {
    std::lock_guard guard(lock_);
    if (aborted_) {
      if (IsFlushPacket(copy)) copy->data = nullptr;
      ff::av_packet_free(&copy);
      return false;
    }
    packets_.push_back(copy);
    size_ += copy->size + kNodeSize;
  }
  arrived_.notify_one();
  return true;
}

bool TPacketQueue::PutEnd() {
  AVPacket* end = ff::av_packet_alloc();
  if (!end) return false;
  bool ok = false;
  {
    std::lock_guard guard(lock_);
    if (!aborted_) {
      packets_.push_back(end);
      size_ += kNodeSize;
      ok = true;
    }
  }
  if (ok)
    arrived_.notify_one();
  else
    ff::av_packet_free(&end);
  return ok;
}

TPacketQueue::GetResult TPacketQueue::Get(AVPacket* packet, bool block) {
  std::unique_lock guard(lock_);
  for (;;) {
    if (aborted_) return Aborted;
    if (!packets_.empty()) {
      AVPacket* head = packets_.front();
      packets_.pop_front();
      size_ -= head->size + kNodeSize;
      if (IsFlushPacket(head)) {
        head->data = nullptr;
        ff::av_packet_unref(packet);
        packet->data = FlushPacket()->data;
        packet->size = 0;
        packet->pts = packet->dts = AV_NOPTS_VALUE;
      } else {
        ff::av_packet_unref(packet);
        ff::av_packet_move_ref(packet, head);
      }
      ff::av_packet_free(&head);
      return Got;
    }
    if (!block) return Empty;
    arrived_.wait(guard);
  }
}

void TPacketQueue::Flush() {
  std::lock_guard guard(lock_);
  for (AVPacket* p : packets_) {
    if (IsFlushPacket(p)) p->data = nullptr;
    ff::av_packet_free(&p);
  }
  packets_.clear();
  size_ = 0;
}

void TPacketQueue::Abort() {
  {
    std::lock_guard guard(lock_);
    aborted_ = true;
  }
  arrived_.notify_all();
}

int TPacketQueue::Count() const {
  std::lock_guard guard(lock_);
  return static_cast<int>(packets_.size());
}

int64_t TPacketQueue::Size() const {
  std::lock_guard guard(lock_);
  return size_;
}

}  // namespace player
