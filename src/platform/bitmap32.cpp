#include "platform/bitmap32.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <type_traits>

#include "platform/stream.h"

namespace zan {

void CheckPixelLimit(int64_t width, int64_t height) {
  if (width < 0 || height < 0) throw EOutOfResources("Invalid bitmap size");
  // Both factors are below 2^63; compare without overflowing.
  if (width != 0 && static_cast<uint64_t>(height) > kMaxPixels / static_cast<uint64_t>(width))
    throw EOutOfResources("Bitmap too large");
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

// For each target index: the first source index and the normalised weights
// of a contiguous run of source indices (taps beyond the edges are folded
// onto the edge pixel, which is what clamping the index does).
struct Contributions {
  std::vector<int32_t> first;
  std::vector<int32_t> count;
  std::vector<size_t> offset;  // into weights
  std::vector<float> weights;
};

Contributions BuildContributions(int32_t srcLen, int32_t dstLen) {
  Contributions c;
  c.first.resize(static_cast<size_t>(dstLen));
  c.count.resize(static_cast<size_t>(dstLen));
  c.offset.resize(static_cast<size_t>(dstLen));
  const double scale = static_cast<double>(srcLen) / dstLen;
  const double stretch = scale > 1.0 ? scale : 1.0;  // widen the kernel when shrinking
  const double support = 3.0 * stretch;
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
      const double k = LanczosKernel((static_cast<double>(j) - centre) / stretch);
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
    c.offset[i] = c.weights.size();
    for (size_t k = b; k < e; ++k) c.weights.push_back(static_cast<float>(w[k] / sum));
  }
  return c;
}

inline uint8_t ToByte(float v) {
  v = v < 0.0f ? 0.0f : (v > 255.0f ? 255.0f : v);
  return static_cast<uint8_t>(static_cast<int>(v + 0.5f));
}

// Rows are arrays of interleaved B, G, R, A channels. In is uint8_t or float;
// Out is float (an intermediate) or uint8_t (the final, rounded and clamped).
template <typename In, typename Out>
void HorizontalPass(const In* in, size_t inStride, int32_t rows, const Contributions& c, int32_t dstW, Out* out,
                    size_t outStride) {
  for (int32_t y = 0; y < rows; ++y) {
    const In* s = in + static_cast<size_t>(y) * inStride;
    Out* d = out + static_cast<size_t>(y) * outStride;
    for (int32_t x = 0; x < dstW; ++x) {
      const float* w = c.weights.data() + c.offset[x];
      const In* p = s + static_cast<size_t>(c.first[x]) * 4;
      const int32_t n = c.count[x];
      float a0 = 0, a1 = 0, a2 = 0, a3 = 0;
      for (int32_t k = 0; k < n; ++k) {
        const float wk = w[k];
        a0 += wk * static_cast<float>(p[4 * k + 0]);
        a1 += wk * static_cast<float>(p[4 * k + 1]);
        a2 += wk * static_cast<float>(p[4 * k + 2]);
        a3 += wk * static_cast<float>(p[4 * k + 3]);
      }
      Out* o = d + static_cast<size_t>(x) * 4;
      if constexpr (std::is_same_v<Out, float>) {
        o[0] = a0, o[1] = a1, o[2] = a2, o[3] = a3;
      } else {
        o[0] = ToByte(a0), o[1] = ToByte(a1), o[2] = ToByte(a2), o[3] = ToByte(a3);
      }
    }
  }
}

// The vertical pass works on whole rows: each target row is a weighted sum of
// a few source rows, so the inner loop runs over contiguous samples.
template <typename In, typename Out>
void VerticalPass(const In* in, size_t inStride, int32_t samples, const Contributions& c, int32_t dstH, Out* out,
                  size_t outStride) {
  std::vector<float> acc(static_cast<size_t>(samples));
  for (int32_t y = 0; y < dstH; ++y) {
    const float* w = c.weights.data() + c.offset[y];
    const int32_t n = c.count[y];
    float* a = acc.data();
    {
      const In* s = in + static_cast<size_t>(c.first[y]) * inStride;
      const float w0 = w[0];
      for (int32_t i = 0; i < samples; ++i) a[i] = w0 * static_cast<float>(s[i]);
    }
    for (int32_t k = 1; k < n; ++k) {
      const In* s = in + static_cast<size_t>(c.first[y] + k) * inStride;
      const float wk = w[k];
      for (int32_t i = 0; i < samples; ++i) a[i] += wk * static_cast<float>(s[i]);
    }
    Out* d = out + static_cast<size_t>(y) * outStride;
    if constexpr (std::is_same_v<Out, float>) {
      std::copy(a, a + samples, d);
    } else {
      for (int32_t i = 0; i < samples; ++i) d[i] = ToByte(a[i]);
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
    const Contributions cy = BuildContributions(sh, dh);
    VerticalPass(sbytes, sstride, static_cast<int32_t>(sstride), cy, dh, dbytes, dstride);
    return;
  }
  if (sh == dh) {
    const Contributions cx = BuildContributions(sw, dw);
    HorizontalPass(sbytes, sstride, sh, cx, dw, dbytes, dstride);
    return;
  }

  const Contributions cx = BuildContributions(sw, dw);
  const Contributions cy = BuildContributions(sh, dh);
  // Pick the cheaper order; the intermediate stays in floating point so no
  // rounding or clamping happens between the passes.
  const double tapsX = static_cast<double>(cx.weights.size()) / dw;
  const double tapsY = static_cast<double>(cy.weights.size()) / dh;
  const double costHFirst = double(sh) * dw * tapsX + double(dw) * dh * tapsY;
  const double costVFirst = double(sw) * dh * tapsY + double(dw) * dh * tapsX;
  if (costHFirst <= costVFirst) {
    std::vector<float> tmp(static_cast<size_t>(dw) * 4 * sh);
    HorizontalPass(sbytes, sstride, sh, cx, dw, tmp.data(), dstride);
    VerticalPass(tmp.data(), dstride, static_cast<int32_t>(dstride), cy, dh, dbytes, dstride);
  } else {
    std::vector<float> tmp(sstride * dh);
    VerticalPass(sbytes, sstride, static_cast<int32_t>(sstride), cy, dh, tmp.data(), sstride);
    HorizontalPass(tmp.data(), sstride, dh, cx, dw, dbytes, dstride);
  }
}

}  // namespace zan
