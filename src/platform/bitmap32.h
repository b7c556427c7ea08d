// A 32-bit bitmap: top-down rows of pixels stored as little-endian words
// 0xAARRGGBB (bytes B, G, R, A in memory), with a draw mode that says how it
// combines with another bitmap and a resampler used when drawn at another size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zan {

// Largest picture we decode or create, in pixels.
inline constexpr uint64_t kMaxPixels = uint64_t(1) << 28;

// Raises EOutOfResources when w x h pixels exceed kMaxPixels (or are negative).
void CheckPixelLimit(int64_t width, int64_t height);

// Pictures up to this many pixels are always allowed by CheckPixelBudget.
inline constexpr uint64_t kFreePixels = uint64_t(1) << 22;
// CheckPixelLimit, and also raises EOutOfResources when a picture is out of
// proportion to the sourceBytes that describe it: above kFreePixels, at most
// pixelsPerByte pixels per byte. Keeps a tiny hostile header from claiming a
// huge allocation that the data could never fill.
void CheckPixelBudget(int64_t width, int64_t height, int64_t sourceBytes, int64_t pixelsPerByte);

enum class DrawMode {
  Opaque,       // the source replaces the target, alpha included
  Blend,        // c + (s - c) * a / 255 on every channel
  Transparent,  // transparent black leaves the target, anything else replaces it
};

enum class Resampler {
  Nearest,  // the default: no filtering
  Lanczos,  // separable Lanczos kernel of window 3
};

class Bitmap32 {
 public:
  Bitmap32() = default;
  Bitmap32(int32_t width, int32_t height) { SetSize(width, height); }

  // Resizes to width x height (contents undefined after a change; zero when
  // new). Raises EOutOfResources above kMaxPixels.
  void SetSize(int32_t width, int32_t height);
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }

  uint32_t* Bits() { return pixels_.data(); }
  const uint32_t* Bits() const { return pixels_.data(); }
  uint32_t* Row(int32_t y) { return pixels_.data() + static_cast<size_t>(y) * width_; }
  const uint32_t* Row(int32_t y) const { return pixels_.data() + static_cast<size_t>(y) * width_; }
  uint32_t Pixel(int32_t x, int32_t y) const { return Row(y)[x]; }
  void SetPixel(int32_t x, int32_t y, uint32_t c) { Row(y)[x] = c; }

  void Clear(uint32_t color);
  // Fills [left, right) x [top, bottom), clipped to the bitmap, opaquely.
  void FillRect(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t color);
  // Sets every alpha byte to 255.
  void ResetAlpha();

  void FlipHorz();   // mirror left-right
  void FlipVert();   // mirror top-bottom
  void Rotate90();   // a quarter turn clockwise: (x, y) -> (H - 1 - y, x)
  void Rotate180();
  void Rotate270();  // a quarter turn counter-clockwise: (x, y) -> (y, W - 1 - x)

  DrawMode GetDrawMode() const { return drawMode_; }
  void SetDrawMode(DrawMode m) { drawMode_ = m; }
  Resampler GetResampler() const { return resampler_; }
  void SetResampler(Resampler r) { resampler_ = r; }

  // Draws this bitmap onto the whole of target: copied pixel for pixel when
  // the sizes match, otherwise stretched through the resampler; each
  // resulting pixel meets the target by this bitmap's draw mode.
  void DrawTo(Bitmap32& target) const;
  // Draws this bitmap into the rectangle [left, right) x [top, bottom) of
  // target (clipped), the same way.
  void DrawTo(Bitmap32& target, int32_t left, int32_t top, int32_t right, int32_t bottom) const;

 private:
  int32_t width_ = 0;
  int32_t height_ = 0;
  std::vector<uint32_t> pixels_;
  DrawMode drawMode_ = DrawMode::Opaque;
  Resampler resampler_ = Resampler::Nearest;
};

// The Lanczos kernel with window 3: sinc(x) * sinc(x / 3) for |x| < 3, else 0.
double LanczosKernel(double x);

// Resamples src to a dstW x dstH picture with the Lanczos kernel (separable;
// when shrinking, the kernel is widened by the reduction factor; weights are
// normalised; edges clamped). Channels are filtered independently.
void ResampleLanczos(const Bitmap32& src, Bitmap32& dst);

}  // namespace zan
