#include "media/previewer.h"

#include <mutex>

namespace media {

namespace {

std::mutex factoryLock;
TPreviewerFactory& Factory() {
  static TPreviewerFactory factory;
  return factory;
}

}  // namespace

void SetPreviewerFactory(TPreviewerFactory factory) {
  std::lock_guard lock(factoryLock);
  Factory() = std::move(factory);
}

std::unique_ptr<TPreviewer> CreatePreviewer() {
  TPreviewerFactory factory;
  {
    std::lock_guard lock(factoryLock);
    factory = Factory();
  }
  return factory ? factory() : nullptr;
}

}  // namespace media
