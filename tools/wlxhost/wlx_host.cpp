#include "wlx_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/codecs.h"
#include "platform/stream.h"

namespace wlx {

bool Module::Load(const std::wstring& path, std::string& error) {
  Unload();
  handle_ = LoadLibraryW(path.c_str());
  if (handle_ == nullptr) {
    error = "cannot load the module (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  previewW = reinterpret_cast<GetPreviewBitmapW>(reinterpret_cast<void*>(GetProcAddress(handle_, "ListGetPreviewBitmapW")));
  previewA = reinterpret_cast<GetPreviewBitmapA>(reinterpret_cast<void*>(GetProcAddress(handle_, "ListGetPreviewBitmap")));
  setDefaultParams =
      reinterpret_cast<SetDefaultParamsProc>(reinterpret_cast<void*>(GetProcAddress(handle_, "ListSetDefaultParams")));
  getDetectString =
      reinterpret_cast<GetDetectStringProc>(reinterpret_cast<void*>(GetProcAddress(handle_, "ListGetDetectString")));
  if (!previewW || !previewA || !setDefaultParams || !getDetectString) {
    error = "not a plug-in module (missing exports)";
    Unload();
    return false;
  }
  return true;
}

void Module::Unload() {
  if (handle_ != nullptr) FreeLibrary(handle_);
  handle_ = nullptr;
  previewW = nullptr;
  previewA = nullptr;
  setDefaultParams = nullptr;
  getDetectString = nullptr;
}

void Module::SetDefaultParams(int32_t versionHigh) {
  DefaultParams params{};
  params.size = sizeof params;
  params.versionLow = 0;
  params.versionHigh = versionHigh;
  std::strcpy(params.defaultIniName, "C:\\host\\host.ini");
  setDefaultParams(&params);
}

bool ReadPicture(HBITMAP bitmap, Picture& out) {
  if (bitmap == nullptr || GetObjectType(bitmap) != OBJ_BITMAP) return false;
  DIBSECTION ds{};
  const int n = GetObjectW(bitmap, sizeof ds, &ds);
  if (n != static_cast<int>(sizeof(DIBSECTION)) && n != static_cast<int>(sizeof(BITMAP))) return false;
  out.dibSection = n == static_cast<int>(sizeof(DIBSECTION));
  out.width = ds.dsBm.bmWidth;
  out.height = std::abs(ds.dsBm.bmHeight);
  out.bitsPerPixel = ds.dsBm.bmBitsPixel;
  if (out.width <= 0 || out.height <= 0 || int64_t(out.width) * out.height > (int64_t(1) << 28)) return false;
  out.pixels.assign(size_t(out.width) * size_t(out.height), 0);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = out.width;
  bi.bmiHeader.biHeight = -out.height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  HDC dc = CreateCompatibleDC(nullptr);
  const int rows = GetDIBits(dc, bitmap, 0, static_cast<UINT>(out.height), out.pixels.data(), &bi, DIB_RGB_COLORS);
  DeleteDC(dc);
  return rows == out.height;
}

bool WritePng(const Picture& picture, const std::wstring& path, std::string& error) {
  try {
    zan::PngImage image;
    image.width = picture.width;
    image.height = picture.height;
    image.bitDepth = 8;
    image.colorType = picture.dibSection ? zan::PngImage::kRGBA : zan::PngImage::kRGB;
    image.Allocate();
    for (int32_t y = 0; y < picture.height; ++y) {
      for (int32_t x = 0; x < picture.width; ++x) {
        const uint32_t c = picture.pixels[size_t(y) * size_t(picture.width) + size_t(x)];
        uint8_t* p = image.PixelPtr(x, y);
        p[0] = static_cast<uint8_t>(c >> 16);
        p[1] = static_cast<uint8_t>(c >> 8);
        p[2] = static_cast<uint8_t>(c);
        if (picture.dibSection) p[3] = static_cast<uint8_t>(c >> 24);
      }
    }
    zan::TMemoryStream png;
    zan::PngWrite(png, image, 6);
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (f == nullptr) {
      error = "cannot create the file";
      return false;
    }
    const size_t size = static_cast<size_t>(png.Size());
    const bool ok = std::fwrite(png.Memory(), 1, size, f) == size;
    if (std::fclose(f) != 0 || !ok) {
      error = "write failed";
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace wlx
