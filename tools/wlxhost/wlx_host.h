// What a host file manager does with a thumbnail plug-in, in one place:
// load the module, look up its four exports, hand over the default
// parameter block, ask for bitmaps and read them back as 32-bit top-down
// rows with GetObject/GetDIBits. Used by wlxhost.exe and the Wine tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace wlx {

// The host's default parameter block (272 bytes).
struct DefaultParams {
  int32_t size;
  uint32_t versionLow;
  int32_t versionHigh;
  char defaultIniName[260];
};
static_assert(sizeof(DefaultParams) == 272, "the host's block is 272 bytes");

using GetPreviewBitmapW = HBITMAP(__stdcall*)(const wchar_t*, int32_t, int32_t, char*, int32_t);
using GetPreviewBitmapA = HBITMAP(__stdcall*)(const char*, int32_t, int32_t, char*, int32_t);
using SetDefaultParamsProc = void(__stdcall*)(DefaultParams*);
using GetDetectStringProc = void(__stdcall*)(char*, int32_t);

class Module {
 public:
  Module() = default;
  ~Module() { Unload(); }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // LoadLibrary and the four exports; false with error set when any is missing.
  bool Load(const std::wstring& path, std::string& error);
  // FreeLibrary (the module's unload runs).
  void Unload();

  // Announces the host's interface version (high part) as a host does.
  void SetDefaultParams(int32_t versionHigh);

  GetPreviewBitmapW previewW = nullptr;
  GetPreviewBitmapA previewA = nullptr;
  SetDefaultParamsProc setDefaultParams = nullptr;
  GetDetectStringProc getDetectString = nullptr;

 private:
  HMODULE handle_ = nullptr;
};

// A bitmap as the host reads it back.
struct Picture {
  bool dibSection = false;  // a DIB section (carries alpha) or a device bitmap
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitsPerPixel = 0;
  std::vector<uint32_t> pixels;  // top-down, 0xAARRGGBB
};

// GetObject, then GetDIBits as 32-bit rows with a negative height (the sign
// of a DIB section's own header is not trusted). False on an invalid handle.
bool ReadPicture(HBITMAP bitmap, Picture& out);

// Writes the picture as PNG: RGBA for a DIB section, RGB for a device bitmap.
bool WritePng(const Picture& picture, const std::wstring& path, std::string& error);

// UTF-8 <-> UTF-16 for command lines and messages.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

}  // namespace wlx
