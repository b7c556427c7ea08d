// Metafile headers: the natural size of a placeable WMF or an EMF. Rendering
// the records is per platform (MetafileRender in posix_metafile.cpp and
// win32_metafile.cpp).
#include <cmath>
#include <cstdlib>

#include "platform/codecs.h"

namespace zan {

namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;  // D7 CD C6 9A
constexpr uint32_t kEmrHeader = 1;
constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr double kScreenDpi = 96.0;

int16_t S16(const uint8_t* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
int32_t S32(const uint8_t* p) { return static_cast<int32_t>(U32(p)); }

// Rounds half away from zero and keeps the result within 32 bits.
int32_t RoundSize(double v) {
  v = std::fabs(v);
  if (v > 2147483647.0) return 2147483647;
  return static_cast<int32_t>(std::floor(v + 0.5));
}

}  // namespace

bool MetafileSize(TStream& stream, int32_t& width, int32_t& height) {
  PositionGuard guard(stream);
  uint8_t h[88];
  const int64_t got = stream.Read(h, sizeof h);
  if (got >= 22 && U32(h) == kPlaceableKey) {
    // Placeable WMF: bounding box in logical units, and units per inch.
    const int inch = U16(h + 14);
    if (inch == 0) return false;
    const double w = static_cast<double>(S16(h + 10)) - S16(h + 6);
    const double ht = static_cast<double>(S16(h + 12)) - S16(h + 8);
    width = RoundSize(w * kScreenDpi / inch);
    height = RoundSize(ht * kScreenDpi / inch);
    return true;
  }
  if (got >= 88 && U32(h) == kEmrHeader && U32(h + 40) == kEmfSignature) {
    // EMF: the frame rectangle in .01 mm (inclusive); else the bounds in
    // device pixels (inclusive).
    const int64_t fl = S32(h + 24), ft = S32(h + 28), fr = S32(h + 32), fb = S32(h + 36);
    if (fr > fl && fb > ft) {
      width = RoundSize(static_cast<double>(fr - fl) * kScreenDpi / 2540.0);
      height = RoundSize(static_cast<double>(fb - ft) * kScreenDpi / 2540.0);
      return true;
    }
    const int64_t bl = S32(h + 8), bt = S32(h + 12), br = S32(h + 16), bb = S32(h + 20);
    if (br >= bl && bb >= bt) {
      width = RoundSize(static_cast<double>(br - bl + 1));
      height = RoundSize(static_cast<double>(bb - bt + 1));
      return true;
    }
    return false;
  }
  return false;
}

}  // namespace zan
