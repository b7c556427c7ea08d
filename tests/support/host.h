// Test helpers that stand in for the host: the interface version it
// announces, and reading a returned bitmap back.
#pragma once

#include <gtest/gtest.h>

#include "front/render.h"
#include "module/plugin_api.h"
#include "platform/gdi.h"

namespace zan::test {

// Announces an interface version for the scope of a test (0: never told).
class HostVersion {
 public:
  explicit HostVersion(int32_t high) {
    ListDefaultParamStruct p{};
    p.size = sizeof p;
    p.PluginInterfaceVersionHi = high;
    SetDefaultParams(&p);
  }
  ~HostVersion() {
    ListDefaultParamStruct p{};
    SetDefaultParams(&p);
  }
  HostVersion(const HostVersion&) = delete;
  HostVersion& operator=(const HostVersion&) = delete;
};

// Reads a returned bitmap back and deletes it; an empty bitmap for null.
inline Bitmap32 ReadBack(ZanHBITMAP h) {
  if (h == nullptr) return Bitmap32();
  Bitmap32 out = BitmapHandleToBitmap32(h);
  zanGdiDeleteObject(h);
  return out;
}

}  // namespace zan::test
