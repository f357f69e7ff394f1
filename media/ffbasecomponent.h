// Base class of every media component (logger, engine, probe, player): the sender type of their
// events and log messages.
#pragma once

namespace media {

class TFFBaseComponent {
 public:
  virtual ~TFFBaseComponent() = default;
};

}  // namespace media
