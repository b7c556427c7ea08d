#include "platform/bitmap32.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <type_traits>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#endif

#include "platform/stream.h"

namespace zan {

void CheckPixelLimit(int64_t width, int64_t height) {
  if (width < 0 || height < 0) throw EOutOfResources("Invalid bitmap size");
  // Both factors are below 2^63; compare without overflowing.
  if (width != 0 && static_cast<uint64_t>(height) > kMaxPixels / static_cast<uint64_t>(width))
    throw EOutOfResources("Bitmap too large");
}

void CheckPixelBudget(int64_t width, int64_t height, int64_t sourceBytes, int64_t pixelsPerByte) {
  CheckPixelLimit(width, height);
  const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (pixels <= kFreePixels) return;
  const uint64_t bytes = sourceBytes > 0 ? static_cast<uint64_t>(sourceBytes) : 0;
  const uint64_t perByte = pixelsPerByte > 0 ? static_cast<uint64_t>(pixelsPerByte) : 1;
  // pixels <= kMaxPixels, so bytes * perByte need only be compared up to it.
  if (bytes >= kMaxPixels || perByte >= kMaxPixels || bytes * perByte >= pixels) return;
  throw EOutOfResources("Picture too large for its data");
}

void Bitmap32::SetSize(int32_t width, int32_t height) {
  CheckPixelLimit(width, height);
  if (width == width_ && height == height_) return;
  if (width == 0 || height == 0) {
    pixels_.clear();
    pixels_.shrink_to_fit();
  } else {
    pixels_.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0u);
  }
  width_ = width;
  height_ = height;
}

void Bitmap32::Clear(uint32_t color) { std::fill(pixels_.begin(), pixels_.end(), color); }

void Bitmap32::FillRect(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t color) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, width_);
  bottom = std::min(bottom, height_);
  if (left >= right || top >= bottom) return;
  for (int32_t y = top; y < bottom; ++y) std::fill(Row(y) + left, Row(y) + right, color);
}

void Bitmap32::ResetAlpha() {
  for (uint32_t& p : pixels_) p |= 0xFF000000u;
}

void Bitmap32::FlipHorz() {
  for (int32_t y = 0; y < height_; ++y) std::reverse(Row(y), Row(y) + width_);
}

void Bitmap32::FlipVert() {
  for (int32_t y = 0, z = height_ - 1; y < z; ++y, --z) std::swap_ranges(Row(y), Row(y) + width_, Row(z));
}

void Bitmap32::Rotate180() { std::reverse(pixels_.begin(), pixels_.end()); }

void Bitmap32::Rotate90() {
  // (x, y) of the W x H source goes to (H - 1 - y, x) of the H x W result.
  const int32_t w = width_, h = height_;
  std::vector<uint32_t> out(pixels_.size());
  for (int32_t y = 0; y < h; ++y) {
    const uint32_t* src = Row(y);
    const int32_t nx = h - 1 - y;
    for (int32_t x = 0; x < w; ++x) out[static_cast<size_t>(x) * h + nx] = src[x];
  }
  pixels_.swap(out);
  width_ = h;
  height_ = w;
}

void Bitmap32::Rotate270() {
  // (x, y) of the W x H source goes to (y, W - 1 - x) of the H x W result.
  const int32_t w = width_, h = height_;
  std::vector<uint32_t> out(pixels_.size());
  for (int32_t y = 0; y < h; ++y) {
    const uint32_t* src = Row(y);
    for (int32_t x = 0; x < w; ++x) out[static_cast<size_t>(w - 1 - x) * h + y] = src[x];
  }
  pixels_.swap(out);
  width_ = h;
  height_ = w;
}

// ---- combining ---------------------------------------------------------------

namespace {

// round(v / 255) for 0 <= v <= 255 * 255 (never a tie: 255 is odd).
inline uint32_t Div255(uint32_t v) { return (v + 128 + ((v + 128) >> 8)) >> 8; }

inline uint32_t BlendPixel(uint32_t s, uint32_t c) {
  const uint32_t a = s >> 24;
  if (a == 255) return s;
  if (a == 0) return c;
  uint32_t r = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t sc = (s >> shift) & 0xFF, cc = (c >> shift) & 0xFF;
    // c + (s - c) * a / 255 == (c * (255 - a) + s * a) / 255
    r |= Div255(cc * (255 - a) + sc * a) << shift;
  }
  return r;
}

// Combines count source pixels with the target row by the draw mode.
void CombineRow(DrawMode mode, const uint32_t* src, uint32_t* dst, int32_t count) {
  switch (mode) {
    case DrawMode::Opaque:
      std::copy(src, src + count, dst);
      break;
    case DrawMode::Blend:
      for (int32_t i = 0; i < count; ++i) dst[i] = BlendPixel(src[i], dst[i]);
      break;
    case DrawMode::Transparent:
      for (int32_t i = 0; i < count; ++i)
        if (src[i] != 0) dst[i] = src[i];
      break;
  }
}

void ResampleNearest(const Bitmap32& src, Bitmap32& dst) {
  const int32_t sw = src.Width(), sh = src.Height(), dw = dst.Width(), dh = dst.Height();
  std::vector<int32_t> xs(static_cast<size_t>(dw));
  for (int32_t x = 0; x < dw; ++x)
    xs[x] = std::min<int32_t>(sw - 1, static_cast<int32_t>((int64_t(2) * x + 1) * sw / (int64_t(2) * dw)));
  for (int32_t y = 0; y < dh; ++y) {
    const int32_t sy = std::min<int32_t>(sh - 1, static_cast<int32_t>((int64_t(2) * y + 1) * sh / (int64_t(2) * dh)));
    const uint32_t* s = src.Row(sy);
    uint32_t* d = dst.Row(y);
    for (int32_t x = 0; x < dw; ++x) d[x] = s[xs[x]];
  }
}

}  // namespace

void Bitmap32::DrawTo(Bitmap32& target) const { DrawTo(target, 0, 0, target.Width(), target.Height()); }

void Bitmap32::DrawTo(Bitmap32& target, int32_t left, int32_t top, int32_t right, int32_t bottom) const {
  if (Empty() || target.Empty() || right <= left || bottom <= top) return;
  const int64_t rw = int64_t(right) - left, rh = int64_t(bottom) - top;
  // The visible part of the rectangle.
  const int32_t cl = std::max(left, 0), ct = std::max(top, 0);
  const int32_t cr = std::min(right, target.Width()), cb = std::min(bottom, target.Height());
  if (cl >= cr || ct >= cb) return;

  const Bitmap32* src = this;
  Bitmap32 stretched;
  if (rw != width_ || rh != height_) {
    CheckPixelLimit(rw, rh);
    stretched.SetSize(static_cast<int32_t>(rw), static_cast<int32_t>(rh));
    if (resampler_ == Resampler::Lanczos)
      ResampleLanczos(*this, stretched);
    else
      ResampleNearest(*this, stretched);
    src = &stretched;
  }
  for (int32_t y = ct; y < cb; ++y)
    CombineRow(drawMode_, src->Row(y - top) + (cl - left), target.Row(y) + cl, cr - cl);
}

// ---- Lanczos -----------------------------------------------------------------

double LanczosKernel(double x) {
  x = std::fabs(x);
  if (x >= 3.0) return 0.0;
  if (x < 1e-12) return 1.0;
  const double px = std::numbers::pi * x;
  return (std::sin(px) / px) * (std::sin(px / 3.0) / (px / 3.0));
}

namespace {

// The four channels of one pixel as floats: one SSE2 register on x86 (a
// multiply and an add per tap, byte conversion by unpacking), a plain struct
// elsewhere.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
using F4 = __m128;
inline F4 Splat(float w) { return _mm_set1_ps(w); }
inline F4 MulAdd(F4 acc, F4 w, F4 v) { return _mm_add_ps(acc, _mm_mul_ps(w, v)); }
inline F4 Mul(F4 w, F4 v) { return _mm_mul_ps(w, v); }
inline F4 Load4(const uint8_t* p) {
  int32_t word;
  std::memcpy(&word, p, 4);
  const __m128i zero = _mm_setzero_si128();
  const __m128i b = _mm_cvtsi32_si128(word);
  return _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(b, zero), zero));
}
inline F4 Load4(const float* p) { return _mm_loadu_ps(p); }
inline void Store4(float* p, F4 v) { _mm_storeu_ps(p, v); }
inline void Store4(uint8_t* p, F4 v) {
  // Clamp, round half up (independent of the host's rounding mode) and pack.
  v = _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(255.0f));
  const __m128i i = _mm_cvttps_epi32(_mm_add_ps(v, _mm_set1_ps(0.5f)));
  const __m128i w = _mm_packs_epi32(i, i);
  const int32_t word = _mm_cvtsi128_si32(_mm_packus_epi16(w, w));
  std::memcpy(p, &word, 4);
}
#else
struct F4 {
  float v[4];
};
inline F4 Splat(float w) { return F4{{w, w, w, w}}; }
inline F4 MulAdd(F4 a, F4 w, F4 x) {
  return F4{{a.v[0] + w.v[0] * x.v[0], a.v[1] + w.v[1] * x.v[1], a.v[2] + w.v[2] * x.v[2], a.v[3] + w.v[3] * x.v[3]}};
}
inline F4 Mul(F4 w, F4 x) { return F4{{w.v[0] * x.v[0], w.v[1] * x.v[1], w.v[2] * x.v[2], w.v[3] * x.v[3]}}; }
inline F4 Load4(const uint8_t* p) { return F4{{float(p[0]), float(p[1]), float(p[2]), float(p[3])}}; }
inline F4 Load4(const float* p) { return F4{{p[0], p[1], p[2], p[3]}}; }
inline void Store4(float* p, F4 v) { std::memcpy(p, v.v, sizeof v.v); }
inline uint8_t ToByte(float v) {
  v = v < 0.0f ? 0.0f : (v > 255.0f ? 255.0f : v);
  return static_cast<uint8_t>(static_cast<int>(v + 0.5f));
}
inline void Store4(uint8_t* p, F4 v) {
  p[0] = ToByte(v.v[0]), p[1] = ToByte(v.v[1]), p[2] = ToByte(v.v[2]), p[3] = ToByte(v.v[3]);
}
#endif

// For each target index: the first source index and the normalised weights
// of a contiguous run of source indices (taps beyond the edges are folded
// onto the edge pixel, which is what clamping the index does).
struct Contributions {
  std::vector<int32_t> first;
  std::vector<int32_t> count;
  std::vector<size_t> offset;  // into weights
  std::vector<float> weights;  // each weight four times, one per channel
};

// Most weights one direction's table may hold (16 bytes each).
constexpr size_t kMaxTaps = size_t(1) << 22;

// The kernel sampled finely once, read with linear interpolation: building
// the weights of a large reduction then costs no sine per tap (the error,
// below 1e-7, is far under what 8-bit channels can show).
class KernelTable {
 public:
  static constexpr int kPerUnit = 4096;
  KernelTable() : values_(3 * kPerUnit + 2) {
    for (size_t i = 0; i < values_.size(); ++i) values_[i] = LanczosKernel(static_cast<double>(i) / kPerUnit);
  }
  double operator()(double x) const {
    x = std::fabs(x) * kPerUnit;
    if (x >= 3.0 * kPerUnit) return 0.0;
    const auto i = static_cast<size_t>(x);
    const double f = x - static_cast<double>(i);
    return values_[i] + (values_[i + 1] - values_[i]) * f;
  }

 private:
  std::vector<double> values_;
};

Contributions BuildContributions(int32_t srcLen, int32_t dstLen) {
  static const KernelTable kernel;
  Contributions c;
  c.first.resize(static_cast<size_t>(dstLen));
  c.count.resize(static_cast<size_t>(dstLen));
  c.offset.resize(static_cast<size_t>(dstLen));
  const double scale = static_cast<double>(srcLen) / dstLen;
  const double stretch = scale > 1.0 ? scale : 1.0;  // widen the kernel when shrinking
  const double support = 3.0 * stretch;
  // About six taps per source pixel when shrinking: only a picture thousands
  // of times longer than its target in one direction needs too many.
  if (static_cast<double>(dstLen) * (2.0 * std::ceil(support) + 1.0) > static_cast<double>(kMaxTaps))
    throw EOutOfResources("Resampling too large");
  std::vector<double> w;
  for (int32_t i = 0; i < dstLen; ++i) {
    const double centre = (i + 0.5) * scale - 0.5;
    const int64_t jlo = static_cast<int64_t>(std::floor(centre - support)) + 1;
    const int64_t jhi = static_cast<int64_t>(std::ceil(centre + support)) - 1;
    const int32_t lo = static_cast<int32_t>(std::clamp<int64_t>(jlo, 0, srcLen - 1));
    const int32_t hi = static_cast<int32_t>(std::clamp<int64_t>(jhi, 0, srcLen - 1));
    w.assign(static_cast<size_t>(hi - lo + 1), 0.0);
    double sum = 0.0;
    for (int64_t j = jlo; j <= jhi; ++j) {
      const double k = kernel((static_cast<double>(j) - centre) / stretch);
      if (k == 0.0) continue;
      const int64_t jc = std::clamp<int64_t>(j, lo, hi);
      w[static_cast<size_t>(jc - lo)] += k;
      sum += k;
    }
    if (sum == 0.0) {  // cannot happen for this kernel; keep the nearest pixel
      std::fill(w.begin(), w.end(), 0.0);
      w[static_cast<size_t>(std::clamp<int64_t>(std::llround(centre), lo, hi) - lo)] = 1.0;
      sum = 1.0;
    }
    // Trim zero weights at both ends so the loops do no useless work.
    size_t b = 0, e = w.size();
    while (b + 1 < e && w[b] == 0.0) ++b;
    while (e - 1 > b && w[e - 1] == 0.0) --e;
    c.first[i] = lo + static_cast<int32_t>(b);
    c.count[i] = static_cast<int32_t>(e - b);
    c.offset[i] = c.weights.size();  // in floats
    for (size_t k = b; k < e; ++k) c.weights.insert(c.weights.end(), 4, static_cast<float>(w[k] / sum));
  }
  return c;
}

// Sums n taps of weights w over pixels p, p + stride, ... Two accumulators
// halve the chain of dependent additions.
inline F4 Convolve(const float* w, const float* const* rows, size_t at, int32_t n) {
  F4 a0 = Mul(Load4(w), Load4(rows[0] + at));
  if (n == 1) return a0;
  F4 a1 = Mul(Load4(w + 4), Load4(rows[1] + at));
  int32_t k = 2;
  for (; k + 1 < n; k += 2) {
    a0 = MulAdd(a0, Load4(w + 4 * k), Load4(rows[k] + at));
    a1 = MulAdd(a1, Load4(w + 4 * k + 4), Load4(rows[k + 1] + at));
  }
  if (k < n) a0 = MulAdd(a0, Load4(w + 4 * k), Load4(rows[k] + at));
  return MulAdd(a0, Splat(1.0f), a1);
}

template <typename In>
inline F4 ConvolveRow(const float* w, const In* p, int32_t n) {
  F4 a0 = Mul(Load4(w), Load4(p));
  if (n == 1) return a0;
  F4 a1 = Mul(Load4(w + 4), Load4(p + 4));
  int32_t k = 2;
  for (; k + 1 < n; k += 2) {
    a0 = MulAdd(a0, Load4(w + 4 * k), Load4(p + 4 * k));
    a1 = MulAdd(a1, Load4(w + 4 * k + 4), Load4(p + 4 * k + 4));
  }
  if (k < n) a0 = MulAdd(a0, Load4(w + 4 * k), Load4(p + 4 * k));
  return MulAdd(a0, Splat(1.0f), a1);
}

// Rows are arrays of interleaved B, G, R, A channels. In is uint8_t or float;
// Out is float (an intermediate, kept unrounded and unclamped) or uint8_t
// (the final picture, rounded and clamped).
template <typename In, typename Out>
void HorizontalPass(const In* in, size_t inStride, int32_t rows, const Contributions& c, int32_t dstW, Out* out,
                    size_t outStride) {
  // Byte rows are converted to floats once, not once per tap.
  std::vector<float> line;
  if constexpr (std::is_same_v<In, uint8_t>) line.resize(inStride);
  for (int32_t y = 0; y < rows; ++y) {
    const In* s = in + static_cast<size_t>(y) * inStride;
    const float* f;
    if constexpr (std::is_same_v<In, uint8_t>) {
      for (size_t i = 0; i < inStride; i += 4) Store4(line.data() + i, Load4(s + i));
      f = line.data();
    } else {
      f = s;
    }
    Out* d = out + static_cast<size_t>(y) * outStride;
    for (int32_t x = 0; x < dstW; ++x) {
      const float* w = c.weights.data() + c.offset[x];
      Store4(d + static_cast<size_t>(x) * 4, ConvolveRow(w, f + static_cast<size_t>(c.first[x]) * 4, c.count[x]));
    }
  }
}

// One target row as the weighted sum of n source rows, over pixels pixels.
template <typename Out>
void VerticalRow(const float* w, const float* const* rows, int32_t n, size_t pixels, Out* d) {
  size_t x = 0;
  // Two pixels at a time share each weight load.
  for (; x + 1 < pixels; x += 2) {
    const size_t at = x * 4;
    F4 wk = Load4(w);
    F4 a = Mul(wk, Load4(rows[0] + at)), b = Mul(wk, Load4(rows[0] + at + 4));
    for (int32_t k = 1; k < n; ++k) {
      wk = Load4(w + 4 * k);
      a = MulAdd(a, wk, Load4(rows[k] + at));
      b = MulAdd(b, wk, Load4(rows[k] + at + 4));
    }
    Store4(d + at, a);
    Store4(d + at + 4, b);
  }
  if (x < pixels) Store4(d + x * 4, Convolve(w, rows, x * 4, n));
}

// Floats the vertical pass may hold in its ring of converted rows.
constexpr size_t kRingFloats = size_t(1) << 22;

// Each target row is a weighted sum of a few source rows; the loop runs along
// the rows over contiguous samples. Byte rows are first converted to floats,
// each once: the windows of source rows only move down, so a ring of as many
// rows as the widest window holds every row in use. A ring that would be
// large is avoided by working in vertical strips.
template <typename In, typename Out>
void VerticalPass(const In* in, size_t inStride, int32_t pixels, const Contributions& c, int32_t dstH, Out* out,
                  size_t outStride) {
  const size_t total = static_cast<size_t>(pixels);
  std::vector<const float*> rows;
  if constexpr (std::is_same_v<In, uint8_t>) {
    const size_t ringRows = static_cast<size_t>(*std::max_element(c.count.begin(), c.count.end()));
    const size_t strip = std::clamp<size_t>(kRingFloats / (ringRows * 4), 1, total);
    std::vector<float> ring(ringRows * strip * 4);
    std::vector<int32_t> ringRow(ringRows);
    for (size_t x0 = 0; x0 < total; x0 += strip) {
      const size_t width = std::min(strip, total - x0);
      std::fill(ringRow.begin(), ringRow.end(), -1);  // the source row in each slot
      for (int32_t y = 0; y < dstH; ++y) {
        const int32_t n = c.count[y];
        rows.resize(static_cast<size_t>(n));
        for (int32_t k = 0; k < n; ++k) {
          const int32_t r = c.first[y] + k;
          const size_t slot = static_cast<size_t>(r) % ringRows;
          float* f = ring.data() + slot * strip * 4;
          if (ringRow[slot] != r) {
            const uint8_t* src = in + static_cast<size_t>(r) * inStride + x0 * 4;
            for (size_t i = 0; i < width * 4; i += 4) Store4(f + i, Load4(src + i));
            ringRow[slot] = r;
          }
          rows[k] = f;
        }
        VerticalRow(c.weights.data() + c.offset[y], rows.data(), n, width,
                    out + static_cast<size_t>(y) * outStride + x0 * 4);
      }
    }
  } else {
    for (int32_t y = 0; y < dstH; ++y) {
      const int32_t n = c.count[y];
      rows.resize(static_cast<size_t>(n));
      for (int32_t k = 0; k < n; ++k) rows[k] = in + static_cast<size_t>(c.first[y] + k) * inStride;
      VerticalRow(c.weights.data() + c.offset[y], rows.data(), n, total, out + static_cast<size_t>(y) * outStride);
    }
  }
}

}  // namespace

void ResampleLanczos(const Bitmap32& src, Bitmap32& dst) {
  const int32_t sw = src.Width(), sh = src.Height(), dw = dst.Width(), dh = dst.Height();
  if (dst.Empty()) return;
  if (src.Empty()) {
    dst.Clear(0);
    return;
  }
  const auto* sbytes = reinterpret_cast<const uint8_t*>(src.Bits());
  auto* dbytes = reinterpret_cast<uint8_t*>(dst.Bits());
  const size_t sstride = static_cast<size_t>(sw) * 4, dstride = static_cast<size_t>(dw) * 4;

  // At scale 1 with integer centres the kernel is the identity: skip that pass.
  if (sw == dw && sh == dh) {
    std::copy(src.Bits(), src.Bits() + static_cast<size_t>(sw) * sh, dst.Bits());
    return;
  }
  if (sw == dw) {
    VerticalPass(sbytes, sstride, sw, BuildContributions(sh, dh), dh, dbytes, dstride);
    return;
  }
  if (sh == dh) {
    HorizontalPass(sbytes, sstride, sh, BuildContributions(sw, dw), dw, dbytes, dstride);
    return;
  }

  const Contributions cx = BuildContributions(sw, dw);
  const Contributions cy = BuildContributions(sh, dh);
  // Pick the cheaper order; the intermediate stays in floating point so no
  // rounding or clamping happens between the passes.
  const double tapsX = static_cast<double>(cx.weights.size()) / 4 / dw;
  const double tapsY = static_cast<double>(cy.weights.size()) / 4 / dh;
  const double costHFirst = double(sh) * dw * tapsX + double(dw) * dh * tapsY;
  const double costVFirst = double(sw) * dh * tapsY + double(dw) * dh * tapsX;
  // The intermediate holds dw x sh or sw x dh pixels; the product of the two
  // is that of source and target, so the smaller one never exceeds the larger
  // picture. Let memory overrule speed when one is much larger than the other.
  const double tmpH = double(dw) * sh, tmpV = double(sw) * dh;
  bool hFirst = costHFirst <= costVFirst;
  if (hFirst && tmpH > 4 * tmpV && tmpH > double(kRingFloats)) hFirst = false;
  if (!hFirst && tmpV > 4 * tmpH && tmpV > double(kRingFloats)) hFirst = true;
  if (hFirst) {
    std::vector<float> tmp(dstride * static_cast<size_t>(sh));
    HorizontalPass(sbytes, sstride, sh, cx, dw, tmp.data(), dstride);
    VerticalPass(static_cast<const float*>(tmp.data()), dstride, dw, cy, dh, dbytes, dstride);
  } else {
    std::vector<float> tmp(sstride * static_cast<size_t>(dh));
    VerticalPass(sbytes, sstride, sw, cy, dh, tmp.data(), sstride);
    HorizontalPass(static_cast<const float*>(tmp.data()), sstride, dh, cx, dw, dbytes, dstride);
  }
}

}  // namespace zan
