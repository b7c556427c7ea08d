// zanpictors thumb: the module driven exactly as a host drives it.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "module/plugin_api.h"
#include "platform/codecs.h"
#include "platform/dynamic_library.h"
#include "platform/system.h"

namespace zan::cli {

namespace {

const char kThumbHelp[] =
    "usage: zanpictors thumb FILE... [-s WxH | -s N] [-o OUT.png | -d OUTDIR] [--host-version 1|2]\n"
    "                        [--module PATH] [--ini FILE]\n"
    "\n"
    "Asks the plug-in module for a thumbnail of each FILE, the way a host file\n"
    "manager does, and writes it as PNG (RGBA when the bitmap carries alpha).\n"
    "\n"
    "  -s WxH | -s N        the box (default 256x256; N means NxN)\n"
    "  -o OUT.png           output file (one FILE only)\n"
    "  -d OUTDIR            output folder: OUTDIR/NAME.png for each FILE\n"
    "                       (default: NAME.png in the current folder)\n"
    "  --host-version V     the interface version the host announces (default 2:\n"
    "                       alpha accepted; 1: opaque on white)\n"
    "  --module PATH        the module to load (default: libzanpictors.so beside\n"
    "                       this program)\n"
    "  --ini FILE           the settings file the module reads instead of the one\n"
    "                       beside it (handed over in the environment variable\n"
    "                       ZANPICTORS_INI): MaxCacheItem, MinCreateTime\n"
    "  -v                   print FILE, thumbnail size and milliseconds per file\n"
    "\n"
    "Exit status: 0 every file gave a thumbnail, 1 the module returned none for\n"
    "some file, 2 usage or I/O error.\n";

// The module's exports and the GDI stand-in's, looked up by name.
struct Host {
  DynamicLibrary library;
  ListGetPreviewBitmapWProc getPreviewW = nullptr;
  ListSetDefaultParamsProc setDefaultParams = nullptr;
  decltype(&zanGdiGetObject) getObject = nullptr;
  decltype(&zanGdiGetDIBits32) getBits = nullptr;
  decltype(&zanGdiDeleteObject) deleteObject = nullptr;

  bool Load(const std::string& path, std::string& error) {
    if (!library.Open(path)) {
      error = library.Error();
      return false;
    }
    getPreviewW = reinterpret_cast<ListGetPreviewBitmapWProc>(library.Symbol("ListGetPreviewBitmapW"));
    setDefaultParams = reinterpret_cast<ListSetDefaultParamsProc>(library.Symbol("ListSetDefaultParams"));
    getObject = reinterpret_cast<decltype(getObject)>(library.Symbol("zanGdiGetObject"));
    getBits = reinterpret_cast<decltype(getBits)>(library.Symbol("zanGdiGetDIBits32"));
    deleteObject = reinterpret_cast<decltype(deleteObject)>(library.Symbol("zanGdiDeleteObject"));
    if (!getPreviewW || !setDefaultParams || !getObject || !getBits || !deleteObject) {
      error = "not a plug-in module (missing exports)";
      return false;
    }
    return true;
  }
};

// Reads the bitmap back and encodes it as PNG: RGBA for a DIB section
// (it carries alpha), RGB for a device bitmap.
bool BitmapToPng(Host& host, ZanHBITMAP bmp, TMemoryStream& png, std::string& error) {
  ZanBitmapInfo info{};
  if (host.getObject(bmp, &info) == 0 || info.width <= 0 || info.height <= 0) {
    error = "the module returned an invalid bitmap";
    return false;
  }
  std::vector<uint32_t> pixels(size_t(info.width) * size_t(info.height));
  if (host.getBits(bmp, 0, info.height, pixels.data()) != info.height) {
    error = "cannot read the bitmap's pixels";
    return false;
  }
  PngImage image;
  image.width = info.width;
  image.height = info.height;
  image.bitDepth = 8;
  const bool alpha = info.kind == ZAN_BITMAP_DIB_SECTION;
  image.colorType = alpha ? PngImage::kRGBA : PngImage::kRGB;
  image.Allocate();
  for (int32_t y = 0; y < info.height; ++y) {
    for (int32_t x = 0; x < info.width; ++x) {
      const uint32_t c = pixels[size_t(y) * size_t(info.width) + size_t(x)];
      uint8_t* p = image.PixelPtr(x, y);
      p[0] = static_cast<uint8_t>(c >> 16);
      p[1] = static_cast<uint8_t>(c >> 8);
      p[2] = static_cast<uint8_t>(c);
      if (alpha) p[3] = static_cast<uint8_t>(c >> 24);
    }
  }
  PngWrite(png, image, 6);
  return true;
}

}  // namespace

int ThumbCommand(const std::vector<std::string>& args, const char*) {
  std::vector<std::string> files;
  int width = 256, height = 256, hostVersion = 2;
  std::string output, outDir, modulePath, iniPath;
  bool verbose = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* what) -> const std::string* {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "zanpictors thumb: %s needs a value\n", what);
        return nullptr;
      }
      return &args[++i];
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kThumbHelp, stdout);
      return 0;
    } else if (a == "-v") {
      verbose = true;
    } else if (a == "-s") {
      const std::string* v = value("-s");
      if (!v) return 2;
      if (!ParseBox(*v, width, height)) {
        std::fprintf(stderr, "zanpictors thumb: bad box '%s' (want WxH or N)\n", v->c_str());
        return 2;
      }
    } else if (a == "-o") {
      const std::string* v = value("-o");
      if (!v) return 2;
      output = *v;
    } else if (a == "-d") {
      const std::string* v = value("-d");
      if (!v) return 2;
      outDir = *v;
    } else if (a == "--host-version") {
      const std::string* v = value("--host-version");
      if (!v) return 2;
      if (*v != "1" && *v != "2") {
        std::fprintf(stderr, "zanpictors thumb: --host-version must be 1 or 2, not '%s'\n", v->c_str());
        return 2;
      }
      hostVersion = std::stoi(*v);
    } else if (a == "--module") {
      const std::string* v = value("--module");
      if (!v) return 2;
      modulePath = *v;
    } else if (a == "--ini") {
      const std::string* v = value("--ini");
      if (!v) return 2;
      iniPath = *v;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      std::fprintf(stderr, "zanpictors thumb: unknown option '%s' (try --help)\n", a.c_str());
      return 2;
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) {
    std::fputs("zanpictors thumb: no input file (try --help)\n", stderr);
    return 2;
  }
  if (!output.empty() && (files.size() > 1 || !outDir.empty())) {
    std::fputs("zanpictors thumb: -o takes one input file and excludes -d\n", stderr);
    return 2;
  }
  for (const std::string& f : files) {
    std::string error;
    if (!CheckReadable(f, error)) {
      std::fprintf(stderr, "zanpictors thumb: %s: %s\n", f.c_str(), error.c_str());
      return 2;
    }
  }
  if (!outDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) {
      std::fprintf(stderr, "zanpictors thumb: %s: %s\n", outDir.c_str(), ec.message().c_str());
      return 2;
    }
  }

  std::string error;
  if (!iniPath.empty() && !UseSettingsFile(iniPath, error)) {
    std::fprintf(stderr, "zanpictors thumb: %s: %s\n", iniPath.c_str(), error.c_str());
    return 2;
  }
  if (modulePath.empty()) modulePath = DynamicLibrary::ExecutableDir() + "/libzanpictors.so";
  Host host;
  if (!host.Load(modulePath, error)) {
    std::fprintf(stderr, "zanpictors thumb: %s: %s\n", modulePath.c_str(), error.c_str());
    return 2;
  }
  ListDefaultParamStruct params{};
  params.size = sizeof params;
  params.PluginInterfaceVersionLow = 0;
  params.PluginInterfaceVersionHi = hostVersion;
  host.setDefaultParams(&params);

  int status = 0;
  for (const std::string& f : files) {
    const std::u16string wide = Utf8ToUtf16(f);
    const auto t0 = std::chrono::steady_clock::now();
    ZanHBITMAP bmp = host.getPreviewW(wide.c_str(), width, height, nullptr, 0);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (bmp == nullptr) {
      std::fprintf(stderr, "zanpictors thumb: %s: no thumbnail\n", f.c_str());
      status = 1;
      continue;
    }
    if (verbose) {
      ZanBitmapInfo info{};
      host.getObject(bmp, &info);
      std::printf("%s\t%dx%d\t%.3f\n", f.c_str(), info.width, info.height, ms);
    }
    TMemoryStream png;
    const bool ok = BitmapToPng(host, bmp, png, error);
    host.deleteObject(bmp);
    if (!ok) {
      std::fprintf(stderr, "zanpictors thumb: %s: %s\n", f.c_str(), error.c_str());
      status = 1;
      continue;
    }
    std::string target = output;
    if (target.empty()) {
      const std::string stem = std::filesystem::path(f).filename().string() + ".png";
      target = outDir.empty() ? stem : (std::filesystem::path(outDir) / stem).string();
    }
    if (!WriteFile(target, png.Memory(), static_cast<size_t>(png.Size()), error)) {
      std::fprintf(stderr, "zanpictors thumb: %s: %s\n", target.c_str(), error.c_str());
      return 2;
    }
  }
  return status;
}

}  // namespace zan::cli
