// The exported functions. Nothing thrown inside ever leaves them: a failure
// is answered with 0.
#include <cstring>
#include <string>

#include "front/detect.h"
#include "front/pipeline.h"
#include "front/render.h"
#include "module/plugin_api.h"
#include "platform/system.h"

namespace {

std::u16string WideName(const ZanWChar* name) {
  std::u16string out;
  for (const ZanWChar* p = name; *p != 0; ++p) out += static_cast<char16_t>(*p);
  return out;
}

#if !defined(_WIN32)
// Registers the formats once when the shared library is mapped. The unload
// (registries, cache, bitmaps) runs when it goes away; LoadModule arranges it.
__attribute__((constructor)) void ModuleLoad() {
  try {
    zan::LoadModule();
  } catch (...) {
  }
}
#endif

}  // namespace

extern "C" {

ZanHBITMAP ZAN_STDCALL ListGetPreviewBitmapW(const ZanWChar* FileToLoad, int32_t width, int32_t height, char*,
                                             int32_t) {
  try {
    if (FileToLoad == nullptr) return nullptr;
    zan::LoadModule();
    return zan::GetPreviewBitmap(WideName(FileToLoad), width, height);
  } catch (...) {
    return nullptr;
  }
}

ZanHBITMAP ZAN_STDCALL ListGetPreviewBitmap(const char* FileToLoad, int32_t width, int32_t height, char* contentbuf,
                                            int32_t contentbuflen) {
  try {
    if (FileToLoad == nullptr) return nullptr;
    const std::u16string wide = zan::AnsiToUtf16(FileToLoad);
    std::basic_string<ZanWChar> name(wide.begin(), wide.end());
    return ListGetPreviewBitmapW(name.c_str(), width, height, contentbuf, contentbuflen);
  } catch (...) {
    return nullptr;
  }
}

void ZAN_STDCALL ListSetDefaultParams(ListDefaultParamStruct* dps) {
  try {
    zan::SetDefaultParams(dps);
  } catch (...) {
  }
}

void ZAN_STDCALL ListGetDetectString(char* DetectString, int32_t maxlen) {
  try {
    zan::LoadModule();
    zan::GetDetectString(DetectString, maxlen);
  } catch (...) {
    if (DetectString != nullptr && maxlen > 0) std::memset(DetectString, 0, static_cast<size_t>(maxlen));
  }
}

}  // extern "C"
