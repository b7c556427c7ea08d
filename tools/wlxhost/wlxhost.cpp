// wlxhost: a small 32-bit Windows host of ours for the thumbnail plug-in,
// the Windows twin of `zanpictors thumb`. It does what a host file manager
// does: LoadLibrary the module, look up its four exports, hand over the
// default parameter block, ask for a thumbnail of each file in a box, read
// each returned bitmap with GetObject/GetDIBits, write it as PNG and
// DeleteObject it; or print the detect string.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "wlx_host.h"

namespace {

const char kUsage[] =
    "usage: wlxhost MODULE FILE... [-s WxH | -s N] [-o OUT.png | -d OUTDIR] [--host-version 0|1|2] [-v]\n"
    "       wlxhost MODULE --detect [-m M]\n"
    "\n"
    "Loads the plug-in MODULE as a host file manager does and asks it for a\n"
    "thumbnail of each FILE, written as PNG (RGBA when the bitmap is a DIB\n"
    "section with alpha, RGB for a device bitmap).\n"
    "\n"
    "  -s WxH | -s N        the box (default 256x256; N means NxN)\n"
    "  -o OUT.png           output file (one FILE only)\n"
    "  -d OUTDIR            output folder: OUTDIR\\NAME.png for each FILE\n"
    "                       (default: NAME.png in the current folder)\n"
    "  --host-version V     the interface version announced (default 2: alpha\n"
    "                       accepted; 1: opaque on white; 0: the host never\n"
    "                       calls ListSetDefaultParams)\n"
    "  -v                   print FILE, thumbnail size, kind and milliseconds\n"
    "  --detect [-m M]      print the detect string (buffer of M bytes, the NUL\n"
    "                       included; default 2048)\n"
    "\n"
    "Exit status: 0 every file gave a thumbnail, 1 the module returned none for\n"
    "some file, 2 usage or I/O error.\n";

int Usage(const char* message) {
  std::fprintf(stderr, "wlxhost: %s (try --help)\n", message);
  return 2;
}

bool ParseNumber(const std::wstring& s, int& out) {
  if (s.empty() || s.size() > 6) return false;
  for (wchar_t c : s)
    if (c < L'0' || c > L'9') return false;
  out = std::stoi(s);
  return out > 0;
}

bool ParseBox(const std::wstring& text, int& width, int& height) {
  const size_t x = text.find_first_of(L"xX");
  if (x == std::wstring::npos) {
    if (!ParseNumber(text, width)) return false;
    height = width;
    return true;
  }
  return ParseNumber(text.substr(0, x), width) && ParseNumber(text.substr(x + 1), height);
}

std::wstring FileName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool Readable(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

int Detect(wlx::Module& module, const std::vector<std::wstring>& args) {
  long maxLength = 2048;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == L"-m" && i + 1 < args.size()) {
      int m = 0;
      if (!ParseNumber(args[++i], m)) return Usage("-m needs a positive length");
      maxLength = m;
    } else {
      return Usage("unknown argument after --detect");
    }
  }
  // A guard byte past the offered length shows a module that overruns it.
  std::vector<char> buffer(static_cast<size_t>(maxLength) + 1, '\x5A');
  module.getDetectString(buffer.data(), static_cast<int32_t>(maxLength));
  if (buffer[static_cast<size_t>(maxLength)] != '\x5A') {
    std::fputs("wlxhost: the module wrote past the buffer\n", stderr);
    return 2;
  }
  buffer[static_cast<size_t>(maxLength) - 1] = '\0';
  std::printf("%s\n", buffer.data());
  return 0;
}

int Run(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  for (const std::wstring& a : args) {
    if (a == L"--help" || a == L"-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  if (args.empty()) return Usage("no module");
  const std::wstring modulePath = args[0];
  args.erase(args.begin());

  const bool detect = !args.empty() && args[0] == L"--detect";
  std::vector<std::wstring> files;
  int width = 256, height = 256, hostVersion = 2;
  std::wstring output, outDir;
  bool verbose = false;
  if (!detect) {
    for (size_t i = 0; i < args.size(); ++i) {
      const std::wstring& a = args[i];
      const bool hasValue = i + 1 < args.size();
      if (a == L"-v") {
        verbose = true;
      } else if (a == L"-s") {
        if (!hasValue || !ParseBox(args[++i], width, height)) return Usage("-s needs WxH or N");
      } else if (a == L"-o") {
        if (!hasValue) return Usage("-o needs a value");
        output = args[++i];
      } else if (a == L"-d") {
        if (!hasValue) return Usage("-d needs a value");
        outDir = args[++i];
      } else if (a == L"--host-version") {
        if (!hasValue) return Usage("--host-version needs a value");
        const std::wstring& v = args[++i];
        if (v != L"0" && v != L"1" && v != L"2") return Usage("--host-version must be 0, 1 or 2");
        hostVersion = v[0] - L'0';
      } else if (!a.empty() && a[0] == L'-' && a != L"-") {
        return Usage(("unknown option '" + wlx::Narrow(a) + "'").c_str());
      } else {
        files.push_back(a);
      }
    }
    if (files.empty()) return Usage("no input file");
    if (!output.empty() && (files.size() > 1 || !outDir.empty())) return Usage("-o takes one input file and excludes -d");
    for (const std::wstring& f : files) {
      if (!Readable(f)) {
        std::fprintf(stderr, "wlxhost: %s: no such file\n", wlx::Narrow(f).c_str());
        return 2;
      }
    }
    if (!outDir.empty() && !CreateDirectoryW(outDir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      std::fprintf(stderr, "wlxhost: %s: cannot create the folder\n", wlx::Narrow(outDir).c_str());
      return 2;
    }
  }

  wlx::Module module;
  std::string error;
  if (!module.Load(modulePath, error)) {
    std::fprintf(stderr, "wlxhost: %s: %s\n", wlx::Narrow(modulePath).c_str(), error.c_str());
    return 2;
  }
  if (detect) {
    args.erase(args.begin());
    return Detect(module, args);
  }
  if (hostVersion != 0) module.SetDefaultParams(hostVersion);

  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  int status = 0;
  for (const std::wstring& f : files) {
    LARGE_INTEGER t0{}, t1{};
    QueryPerformanceCounter(&t0);
    HBITMAP bitmap = module.previewW(f.c_str(), width, height, nullptr, 0);
    QueryPerformanceCounter(&t1);
    const double ms = double(t1.QuadPart - t0.QuadPart) * 1000.0 / double(frequency.QuadPart);
    if (bitmap == nullptr) {
      std::fprintf(stderr, "wlxhost: %s: no thumbnail\n", wlx::Narrow(f).c_str());
      status = 1;
      continue;
    }
    wlx::Picture picture;
    const bool read = wlx::ReadPicture(bitmap, picture);
    DeleteObject(bitmap);
    if (!read) {
      std::fprintf(stderr, "wlxhost: %s: the module returned an invalid bitmap\n", wlx::Narrow(f).c_str());
      status = 1;
      continue;
    }
    if (verbose) {
      std::printf("%s\t%dx%d\t%s\t%.3f\n", wlx::Narrow(f).c_str(), picture.width, picture.height,
                  picture.dibSection ? "dib" : "ddb", ms);
    }
    std::wstring target = output;
    if (target.empty()) {
      const std::wstring stem = FileName(f) + L".png";
      target = outDir.empty() ? stem : outDir + L"\\" + stem;
    }
    if (!wlx::WritePng(picture, target, error)) {
      std::fprintf(stderr, "wlxhost: %s: %s\n", wlx::Narrow(target).c_str(), error.c_str());
      return 2;
    }
  }
  module.Unload();
  std::fflush(stdout);
  return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wlxhost: %s\n", e.what());
    return 2;
  }
}
