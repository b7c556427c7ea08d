#include "front/pipeline.h"

#include "front/cache.h"
#include "front/choice.h"
#include "front/decode.h"
#include "front/formats.h"
#include "front/hooks.h"
#include "meta/buffered_stream.h"
#include "platform/gdi.h"
#include "platform/stream.h"
#include "platform/system.h"

namespace zan {

namespace {

bool g_loaded = false;

// Runs one optional source under its own guard: a failing source yields
// nothing and the next one is tried.
template <class Source>
ZanHBITMAP TrySource(TStream& stream, Source source, int32_t width, int32_t height) {
  if (source == nullptr) return nullptr;
  try {
    stream.SetPosition(0);
    return source(stream, width, height);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

// Unloads the module when the process exits or the shared library is
// unloaded. It is made after everything the units set up at load, so it is
// destroyed before any of that: static objects go in the reverse order of
// their making, whichever way the module ends.
struct ModuleLifetime {
  ModuleLifetime() = default;
  ModuleLifetime(const ModuleLifetime&) = delete;
  ModuleLifetime& operator=(const ModuleLifetime&) = delete;
  ~ModuleLifetime() {
    try {
      UnloadModule();
      GdiShutdown();
    } catch (...) {
    }
  }
};

void LoadModule() {
  if (g_loaded) return;
  g_loaded = true;
  RegisterFormats();
  RegisterCacheUnit();  // the settings, then the empty cache
  static ModuleLifetime lifetime;
}

void UnloadModule() {
  if (!g_loaded) return;
  UnregisterCacheUnit();  // deletes every cached bitmap
  UnregisterFormats();
  g_loaded = false;
}

ZanHBITMAP StreamPreview(TStream& stream, int32_t width, int32_t height) {
  const FrontHooks& hooks = Hooks();
  ZanHBITMAP bitmap = RegisteredFileToThumbnail(stream, width, height);
  if (bitmap == nullptr) {
    try {
      stream.SetPosition(0);
      bitmap = StreamToThumbnail(stream, width, height, 0, false);
    } catch (...) {
      bitmap = nullptr;
    }
  }
  if (bitmap == nullptr) bitmap = TrySource(stream, hooks.audioTagPicture, width, height);
  if (bitmap == nullptr) bitmap = TrySource(stream, hooks.documentPreview, width, height);
  return bitmap;
}

ZanHBITMAP GetPreviewBitmap(const std::u16string& fileName, int32_t width, int32_t height) {
  ZanHBITMAP bitmap = nullptr;
  try {
    const uint32_t startTick = TickCount();
    FrontHooks& hooks = Hooks();
    if (hooks.cache != nullptr) {
      if (ZanHBITMAP cached = hooks.cache->FindItem(fileName, width, height)) return cached;
    }

    {
      TFileStream file(fileName);
      TzanBufferedStream stream(&file, false);
      bitmap = StreamPreview(stream, width, height);
    }

    if (bitmap != nullptr && hooks.cache != nullptr) hooks.cache->AddItem(fileName, width, height, bitmap);

    // The minimum time per generated thumbnail: each pass sleeps the whole
    // setting, as hosts that rely on the pacing expect.
    const uint32_t minTime = hooks.minCreateTime;
    while (uint32_t(TickCount() - startTick) < minTime) SleepMs(minTime);
    return bitmap;
  } catch (...) {
    if (bitmap != nullptr) zanGdiDeleteObject(bitmap);
    return nullptr;
  }
}

}  // namespace zan
