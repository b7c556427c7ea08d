// Feeds arbitrary bytes through the whole preview pipeline, as if they were
// a file the host asked about: every registered format, the plain-image
// decoders and the other sources, then rendering into a small box.
#include <cstddef>
#include <cstdint>

#include "front/pipeline.h"
#include "front/render.h"
#include "meta/buffered_stream.h"
#include "module/plugin_api.h"
#include "platform/gdi.h"
#include "platform/stream.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zan::LoadModule();
  // Exercise the alpha path (DIB sections) as a version 2 host would.
  ListDefaultParamStruct params{};
  params.size = sizeof params;
  params.PluginInterfaceVersionHi = 2;
  zan::SetDefaultParams(&params);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zan::TReadOnlyMemoryStream source(data, size);
  zan::TzanBufferedStream stream(&source, false);
  // The box comes from the last byte so that the scaling paths vary too;
  // boxes stay small so that each input is rendered quickly.
  int32_t box = 48;
  if (size >= 1) box = 1 + data[size - 1] % 96;
  ZanHBITMAP bmp = zan::StreamPreview(stream, box, box);
  if (bmp != nullptr) zanGdiDeleteObject(bmp);
  return 0;
}
