// TPacketQueue: one stream's demultiplexed packets between the read thread and a decoder, with
// the packet count and byte size that the read thread's back-pressure looks at. The flush marker
// (IsFlushPacket) tells a decoder to forget its state after a seek. Any thread may use it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

struct AVPacket;

namespace player {

// The flush marker: a packet whose data points at the constant text "FLUSH". Queues recognise it
// by that pointer and never copy or free its data.
AVPacket* FlushPacket();
bool IsFlushPacket(const AVPacket* packet);

class TPacketQueue {
 public:
  TPacketQueue() = default;
  ~TPacketQueue();
  TPacketQueue(const TPacketQueue&) = delete;
  TPacketQueue& operator=(const TPacketQueue&) = delete;

  // Clears the abort flag and puts a flush marker (a decoder starts from a clean state).
  void Start();
  // Appends a reference to the packet (the caller keeps its own); the flush marker is queued as
  // it is. False when the queue is aborted or memory runs out.
  bool Put(const AVPacket* packet);
  // Appends an empty packet (no data, size 0): the end of input.
  bool PutEnd();
  // Result of Get.
  enum GetResult { Aborted = -1, Empty = 0, Got = 1 };
  // Moves the oldest packet into packet (allocated by the caller; a flush marker is returned as
  // a copy of its fields). With block, waits until one arrives or the queue is aborted.
  GetResult Get(AVPacket* packet, bool block);
  // Frees every queued packet.
  void Flush();
  // Makes every waiting and later Get return Aborted.
  void Abort();

  int Count() const;
  int64_t Size() const;

 private:
  mutable std::mutex lock_;  // protects packets_, size_, aborted_
  std::condition_variable arrived_;
  std::deque<AVPacket*> packets_;
  int64_t size_ = 0;
  bool aborted_ = true;
};

}  // namespace player
