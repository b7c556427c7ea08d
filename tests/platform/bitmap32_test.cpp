// Bitmap32: size limits, turns and mirrors, the draw modes, DrawTo and the
// Lanczos resampler held against a direct floating-point evaluation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <numbers>
#include <string>
#include <vector>

#include "platform/bitmap32.h"
#include "platform/stream.h"

namespace zan {
namespace {

// Sharp edges and gradients in all four channels.
Bitmap32 Pattern(int32_t w, int32_t h) {
  Bitmap32 b(w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t blue = static_cast<uint32_t>(x * 255 / (w - 1));
      const uint32_t green = static_cast<uint32_t>(y * 255 / (h - 1));
      const uint32_t red = ((x / 7 + y / 5) % 2) ? 235u : 12u;       // checkerboard edges
      const uint32_t alpha = x < w / 2 ? 255u : static_cast<uint32_t>((y * 37 + x * 11) % 256);
      const uint32_t line = (x == w / 3) ? 0xFFFFFFFFu : 0u;           // a one-pixel white line
      b.SetPixel(x, y, line ? line : (alpha << 24) | (red << 16) | (green << 8) | blue);
    }
  return b;
}

// The kernel written out again, independently of the code under test.
double Kernel(double x) {
  x = std::abs(x);
  if (x >= 3) return 0;
  if (x == 0) return 1;
  const double a = std::numbers::pi * x, b = a / 3;
  return std::sin(a) / a * std::sin(b) / b;
}

// Direct 2-D evaluation in doubles of one target pixel: the same centre
// mapping, the kernel widened by the reduction factor, normalised weights,
// clamped indices.
uint32_t ReferencePixel(const Bitmap32& src, int32_t dw, int32_t dh, int32_t x, int32_t y) {
  const int32_t sw = src.Width(), sh = src.Height();
  const double sx = double(sw) / dw, sy = double(sh) / dh;
  const double fx = std::max(1.0, sx), fy = std::max(1.0, sy);
  const double cx = (x + 0.5) * sx - 0.5, cy = (y + 0.5) * sy - 0.5;
  double acc[4] = {0, 0, 0, 0}, total = 0;
  for (int j = int(std::floor(cy - 3 * fy)) - 1; j <= int(std::ceil(cy + 3 * fy)) + 1; ++j) {
    const double wy = Kernel((j - cy) / fy);
    if (wy == 0) continue;
    const int32_t yy = std::clamp(j, 0, sh - 1);
    for (int i = int(std::floor(cx - 3 * fx)) - 1; i <= int(std::ceil(cx + 3 * fx)) + 1; ++i) {
      const double w = wy * Kernel((i - cx) / fx);
      if (w == 0) continue;
      const uint32_t p = src.Pixel(std::clamp(i, 0, sw - 1), yy);
      for (int c = 0; c < 4; ++c) acc[c] += w * double((p >> (8 * c)) & 0xFF);
      total += w;
    }
  }
  uint32_t p = 0;
  for (int c = 0; c < 4; ++c) p |= uint32_t(std::clamp(std::round(acc[c] / total), 0.0, 255.0)) << (8 * c);
  return p;
}

Bitmap32 Reference(const Bitmap32& src, int32_t dw, int32_t dh) {
  Bitmap32 out(dw, dh);
  for (int32_t y = 0; y < dh; ++y)
    for (int32_t x = 0; x < dw; ++x) out.SetPixel(x, y, ReferencePixel(src, dw, dh, x, y));
  return out;
}

int ChannelDiff(uint32_t a, uint32_t b) {
  int worst = 0;
  for (int c = 0; c < 4; ++c) worst = std::max(worst, std::abs(int((a >> (8 * c)) & 0xFF) - int((b >> (8 * c)) & 0xFF)));
  return worst;
}

int MaxChannelDiff(const Bitmap32& a, const Bitmap32& b) {
  int worst = 0;
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x) worst = std::max(worst, ChannelDiff(a.Pixel(x, y), b.Pixel(x, y)));
  return worst;
}

TEST(PlatformBitmap32, LanczosKernelValues) {
  EXPECT_DOUBLE_EQ(LanczosKernel(0), 1.0);
  for (double x : {1.0, 2.0, -1.0, -2.0}) EXPECT_NEAR(LanczosKernel(x), 0.0, 1e-12) << x;
  for (double x : {3.0, -3.0, 3.5, 100.0}) EXPECT_EQ(LanczosKernel(x), 0.0) << x;
  EXPECT_NEAR(LanczosKernel(0.5), Kernel(0.5), 1e-12);
  EXPECT_NEAR(LanczosKernel(-1.7), Kernel(1.7), 1e-12);
  EXPECT_LT(LanczosKernel(1.5), 0.0);  // the negative lobe
}

TEST(PlatformBitmap32, LanczosMatchesDirectEvaluation) {
  const Bitmap32 src = Pattern(97, 61);
  struct Size {
    int32_t w, h;
  };
  // Shrink, enlarge, one of each, one direction only, extreme shrink.
  for (const Size s : {Size{40, 23}, Size{150, 90}, Size{150, 23}, Size{30, 61}, Size{97, 140}, Size{1, 1},
                       Size{7, 3}}) {
    Bitmap32 dst(s.w, s.h);
    ResampleLanczos(src, dst);
    EXPECT_LE(MaxChannelDiff(dst, Reference(src, s.w, s.h)), 1) << s.w << "x" << s.h;
  }
  // A tiny source enlarged a lot: every tap is clamped to the edges.
  const Bitmap32 tiny = Pattern(3, 2);
  Bitmap32 big(50, 41);
  ResampleLanczos(tiny, big);
  EXPECT_LE(MaxChannelDiff(big, Reference(tiny, 50, 41)), 1);
}

TEST(PlatformBitmap32, LanczosLargeReductions) {
  // 8000 rows into 20: each target row sums some 2400 source rows, more than
  // the resampler converts at once, so it works in vertical strips.
  const Bitmap32 tall = Pattern(1200, 8000);
  Bitmap32 dst(1200, 20);
  ResampleLanczos(tall, dst);
  for (int32_t x : {0, 1, 435, 436, 437, 871, 872, 873, 1000, 1199})
    for (int32_t y : {0, 7, 19}) EXPECT_LE(ChannelDiff(dst.Pixel(x, y), ReferencePixel(tall, 1200, 20, x, y)), 1) << x << "," << y;
  // Both directions at once.
  Bitmap32 small(30, 20);
  ResampleLanczos(tall, small);
  for (int32_t x : {0, 29})
    for (int32_t y : {0, 10, 19}) EXPECT_LE(ChannelDiff(small.Pixel(x, y), ReferencePixel(tall, 30, 20, x, y)), 1);
  // A reduction beyond any table the resampler keeps is refused, not attempted.
  const Bitmap32 line(1, 1 << 21);
  Bitmap32 one(1, 1);
  EXPECT_THROW(ResampleLanczos(line, one), EOutOfResources);
}

TEST(PlatformBitmap32, LanczosKeepsFlatColourAndSameSize) {
  Bitmap32 flat(33, 17);
  flat.Clear(0x80C04020u);
  for (const auto& [w, h] : {std::pair{10, 5}, std::pair{80, 61}}) {
    Bitmap32 dst(w, h);
    ResampleLanczos(flat, dst);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) ASSERT_EQ(dst.Pixel(x, y), 0x80C04020u) << w << " " << x << "," << y;
  }
  const Bitmap32 src = Pattern(20, 9);
  Bitmap32 same(20, 9);
  ResampleLanczos(src, same);
  EXPECT_EQ(MaxChannelDiff(same, src), 0);
}

TEST(PlatformBitmap32, DrawModes) {
  struct Case {
    DrawMode mode;
    uint32_t s, c, expected;
  };
  const Case cases[] = {
      {DrawMode::Opaque, 0x00112233u, 0xFFFFFFFFu, 0x00112233u},  // alpha replaced too
      {DrawMode::Opaque, 0x00000000u, 0xFF808080u, 0x00000000u},
      {DrawMode::Blend, 0x00FFFFFFu, 0x80402010u, 0x80402010u},  // alpha 0 leaves c
      {DrawMode::Blend, 0xFF102030u, 0x80402010u, 0xFF102030u},  // alpha 255 replaces
      // c + (s - c) * 128 / 255 per channel: A 191.25, R 128, G 0, B 127
      {DrawMode::Blend, 0x80FF0000u, 0xFF0000FFu, 0xBF80007Fu},
      // A 200 * 200 / 255 = 156.9; RGB 255 - 200 = 55
      {DrawMode::Blend, 0xC8000000u, 0x00FFFFFFu, 0x9D373737u},
      {DrawMode::Blend, 0x01FFFFFFu, 0x00000000u, 0x00010101u},
      {DrawMode::Transparent, 0x00000000u, 0x12345678u, 0x12345678u},  // transparent black leaves c
      {DrawMode::Transparent, 0x00000001u, 0x12345678u, 0x00000001u},  // anything else replaces
      {DrawMode::Transparent, 0xFF000000u, 0x12345678u, 0xFF000000u},
  };
  for (const Case& k : cases) {
    Bitmap32 s(1, 1), t(1, 1);
    s.SetPixel(0, 0, k.s);
    s.SetDrawMode(k.mode);
    t.SetPixel(0, 0, k.c);
    s.DrawTo(t);
    EXPECT_EQ(t.Pixel(0, 0), k.expected) << std::hex << int(k.mode) << " s=" << k.s << " c=" << k.c;
  }
}

// 4 x 2 source with pixels numbered 1..8 row by row.
Bitmap32 Numbered() {
  Bitmap32 b(4, 2);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 4; ++x) b.SetPixel(x, y, uint32_t(y * 4 + x + 1));
  return b;
}

std::vector<std::vector<uint32_t>> Rows(const Bitmap32& b) {
  std::vector<std::vector<uint32_t>> r(size_t(b.Height()));
  for (int32_t y = 0; y < b.Height(); ++y)
    for (int32_t x = 0; x < b.Width(); ++x) r[size_t(y)].push_back(b.Pixel(x, y));
  return r;
}

TEST(PlatformBitmap32, TurnsAndMirrors) {
  using Op = void (Bitmap32::*)();
  struct Case {
    std::string name;
    std::vector<Op> ops;
    std::vector<std::vector<uint32_t>> expected;
  };
  const std::vector<Case> cases = {
      {"mirror left-right", {&Bitmap32::FlipHorz}, {{4, 3, 2, 1}, {8, 7, 6, 5}}},
      {"mirror top-bottom", {&Bitmap32::FlipVert}, {{5, 6, 7, 8}, {1, 2, 3, 4}}},
      {"rotate 180", {&Bitmap32::Rotate180}, {{8, 7, 6, 5}, {4, 3, 2, 1}}},
      // Orientation 6: the source's top-left ends top-right.
      {"rotate clockwise", {&Bitmap32::Rotate90}, {{5, 1}, {6, 2}, {7, 3}, {8, 4}}},
      {"rotate counter-clockwise", {&Bitmap32::Rotate270}, {{4, 8}, {3, 7}, {2, 6}, {1, 5}}},
      // Orientation 5 (transpose) and 7 (transverse).
      {"mirror then counter-clockwise", {&Bitmap32::FlipHorz, &Bitmap32::Rotate270}, {{1, 5}, {2, 6}, {3, 7}, {4, 8}}},
      {"mirror then clockwise", {&Bitmap32::FlipHorz, &Bitmap32::Rotate90}, {{8, 4}, {7, 3}, {6, 2}, {5, 1}}},
      {"four quarter turns",
       {&Bitmap32::Rotate90, &Bitmap32::Rotate90, &Bitmap32::Rotate90, &Bitmap32::Rotate90},
       {{1, 2, 3, 4}, {5, 6, 7, 8}}},
  };
  for (const Case& c : cases) {
    Bitmap32 b = Numbered();
    for (Op op : c.ops) (b.*op)();
    EXPECT_EQ(Rows(b), c.expected) << c.name;
    EXPECT_EQ(b.Width(), int32_t(c.expected[0].size())) << c.name;
    EXPECT_EQ(b.Height(), int32_t(c.expected.size())) << c.name;
  }
  // An empty bitmap survives every operation.
  Bitmap32 empty;
  for (Op op : {&Bitmap32::FlipHorz, &Bitmap32::FlipVert, &Bitmap32::Rotate90, &Bitmap32::Rotate180,
                &Bitmap32::Rotate270}) {
    (empty.*op)();
    EXPECT_TRUE(empty.Empty());
  }
}

TEST(PlatformBitmap32, DrawToCopiesClipsAndStretches) {
  // Equal sizes copy exactly, whatever the resampler.
  const Bitmap32 pattern = Pattern(31, 17);
  Bitmap32 copy(31, 17);
  Bitmap32 src = pattern;
  src.SetResampler(Resampler::Lanczos);
  src.DrawTo(copy);
  EXPECT_EQ(MaxChannelDiff(copy, pattern), 0);

  // A rectangle partly outside the target: only the visible part is drawn.
  Bitmap32 two(2, 2), target(3, 3);
  for (int32_t i = 0; i < 4; ++i) two.SetPixel(i % 2, i / 2, 0xFF000000u | uint32_t(i + 1));
  target.Clear(0xFFFFFFFFu);
  two.DrawTo(target, -1, -1, 1, 1);
  EXPECT_EQ(Rows(target), (std::vector<std::vector<uint32_t>>{
                              {0xFF000004u, 0xFFFFFFFFu, 0xFFFFFFFFu},
                              {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu},
                              {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}}));
  two.DrawTo(target, 3, 3, 5, 5);  // wholly outside: nothing happens
  two.DrawTo(target, 2, 1, 2, 3);  // empty rectangle
  EXPECT_EQ(target.Pixel(2, 2), 0xFFFFFFFFu);

  // Nearest neighbour doubling.
  Bitmap32 ab(2, 1), wide(4, 1);
  ab.SetPixel(0, 0, 0xFF0000AAu);
  ab.SetPixel(1, 0, 0xFF0000BBu);
  ab.DrawTo(wide);
  EXPECT_EQ(Rows(wide)[0], (std::vector<uint32_t>{0xFF0000AAu, 0xFF0000AAu, 0xFF0000BBu, 0xFF0000BBu}));

  // Stretching happens before blending.
  Bitmap32 dot(1, 1), white(2, 2);
  dot.SetPixel(0, 0, 0x80FF0000u);
  dot.SetDrawMode(DrawMode::Blend);
  white.Clear(0xFFFFFFFFu);
  dot.DrawTo(white);
  const auto blended = Rows(white);
  for (const auto& row : blended)
    for (uint32_t p : row) EXPECT_EQ(p, 0xBFFF7F7Fu);

  // The Lanczos resampler is the one ResampleLanczos implements.
  Bitmap32 viaDraw(40, 23), direct(40, 23);
  src.DrawTo(viaDraw);
  ResampleLanczos(pattern, direct);
  EXPECT_EQ(MaxChannelDiff(viaDraw, direct), 0);
}

TEST(PlatformBitmap32, FillClearAndAlpha) {
  Bitmap32 b(4, 3);
  EXPECT_EQ(b.Pixel(3, 2), 0u);  // new bitmaps are zero
  b.Clear(0x00102030u);
  b.FillRect(-5, 1, 2, 99, 0xFFABCDEFu);
  EXPECT_EQ(Rows(b), (std::vector<std::vector<uint32_t>>{{0x00102030u, 0x00102030u, 0x00102030u, 0x00102030u},
                                                         {0xFFABCDEFu, 0xFFABCDEFu, 0x00102030u, 0x00102030u},
                                                         {0xFFABCDEFu, 0xFFABCDEFu, 0x00102030u, 0x00102030u}}));
  b.ResetAlpha();
  EXPECT_EQ(b.Pixel(3, 0), 0xFF102030u);
}

TEST(PlatformBitmap32, SizeLimits) {
  EXPECT_NO_THROW(CheckPixelLimit(16384, 16384));  // exactly 2^28
  EXPECT_THROW(CheckPixelLimit(16384, 16385), EOutOfResources);
  EXPECT_THROW(CheckPixelLimit(int64_t(1) << 40, int64_t(1) << 40), EOutOfResources);  // no overflow
  EXPECT_THROW(CheckPixelLimit(-1, 5), EOutOfResources);
  Bitmap32 b;
  EXPECT_THROW(b.SetSize(1 << 20, 1 << 9), EOutOfResources);
  EXPECT_THROW(b.SetSize(-3, 4), EOutOfResources);
  EXPECT_TRUE(b.Empty());
  b.SetSize(0, 7);
  EXPECT_TRUE(b.Empty());

  // The budget: small pictures always, large ones only with data behind them.
  EXPECT_NO_THROW(CheckPixelBudget(2048, 2048, 0, 1));
  EXPECT_THROW(CheckPixelBudget(4096, 4096, 1000, 1024), EOutOfResources);
  EXPECT_NO_THROW(CheckPixelBudget(4096, 4096, 16384, 1024));
  EXPECT_THROW(CheckPixelBudget(16384, 16385, int64_t(1) << 40, 1024), EOutOfResources);
}

}  // namespace
}  // namespace zan
