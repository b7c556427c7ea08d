// The host's view of the Windows module, one behaviour per case, run under
// Wine by CTest:  zan_host_checks MODULE SAMPLES_DIR WORK_DIR CASE
// Each case loads the module afresh (a new process), so the process-wide
// state (parameter block, cache) starts empty.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "wlx_host.h"

namespace {

struct Context {
  std::wstring module, samples, work;
};

int g_failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  if (!ok) ++g_failures;
}

bool Load(const Context& c, wlx::Module& m) {
  std::string error;
  const bool ok = m.Load(c.module, error);
  Check(ok, "load the module" + (ok ? std::string() : ": " + error));
  return ok;
}

// Asks for a thumbnail and reads it back; the handle is deleted afterwards.
bool Thumb(wlx::Module& m, const std::wstring& file, int w, int h, wlx::Picture& out, char* content = nullptr,
           int32_t contentLength = 0) {
  HBITMAP bmp = m.previewW(file.c_str(), w, h, content, contentLength);
  if (bmp == nullptr) return false;
  const bool ok = wlx::ReadPicture(bmp, out);
  DeleteObject(bmp);
  return ok;
}

bool SamePixels(const wlx::Picture& a, const wlx::Picture& b) {
  return a.dibSection == b.dibSection && a.width == b.width && a.height == b.height && a.pixels == b.pixels;
}

std::wstring Copy(const Context& c, const std::wstring& sample, const std::wstring& name) {
  const std::wstring target = c.work + L"\\" + name;
  CopyFileW((c.samples + L"\\" + sample).c_str(), target.c_str(), FALSE);
  return target;
}

// A PNG whose background is transparent and whose middle is opaque.
const wchar_t kAlphaSample[] = L"disc-alpha.png";

void CheckOpaqueOnWhite(const wlx::Picture& p, const std::string& label) {
  Check(!p.dibSection, label + ": a device-compatible bitmap");
  Check((p.pixels.front() & 0x00FFFFFFu) == 0x00FFFFFFu, label + ": the transparent corner is white");
}

void Version1(const Context& c) {
  wlx::Module m;
  if (!Load(c, m)) return;
  m.SetDefaultParams(1);
  wlx::Picture p;
  const bool made = Thumb(m, c.samples + L"\\" + kAlphaSample, 96, 96, p);
  Check(made, "interface version 1 gives a thumbnail");
  if (made) CheckOpaqueOnWhite(p, "version 1");
}

void Version2(const Context& c) {
  wlx::Module m;
  if (!Load(c, m)) return;
  m.SetDefaultParams(2);
  wlx::Picture p;
  const bool made = Thumb(m, c.samples + L"\\" + kAlphaSample, 96, 96, p);
  Check(made, "interface version 2 gives a thumbnail");
  if (!made) return;
  Check(p.dibSection && p.bitsPerPixel == 32, "version 2: a 32-bit DIB section");
  Check(p.pixels.front() == 0, "version 2: the transparent corner is all zero");
  const uint32_t middle = p.pixels[size_t(p.height / 2) * size_t(p.width) + size_t(p.width / 2)];
  Check((middle >> 24) == 0xFF, "version 2: the middle is opaque");
}

void NoDefaultParams(const Context& c) {
  wlx::Module m;
  if (!Load(c, m)) return;
  // The host never calls ListSetDefaultParams: treated as version 1.
  wlx::Picture none, v1;
  const std::wstring a = Copy(c, kAlphaSample, L"no-params-a.png"), b = Copy(c, kAlphaSample, L"no-params-b.png");
  const bool made = Thumb(m, a, 96, 96, none);
  Check(made, "without ListSetDefaultParams a thumbnail comes back");
  if (!made) return;
  CheckOpaqueOnWhite(none, "without ListSetDefaultParams");
  m.SetDefaultParams(1);
  Check(Thumb(m, b, 96, 96, v1) && SamePixels(none, v1), "the same pixels as with version 1");
}

void AnsiName(const Context& c) {
  // A name with a letter outside ASCII, when the ANSI code page has one.
  std::wstring wideName = L"ansi-\u00e9t\u00e9.jpg";
  BOOL lossy = FALSE;
  char ansi[MAX_PATH * 2] = {};
  std::wstring path = c.work + L"\\" + wideName;
  if (WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, ansi, sizeof ansi, nullptr, &lossy) == 0 || lossy) {
    wideName = L"ansi-plain.jpg";
    path = c.work + L"\\" + wideName;
    WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, ansi, sizeof ansi, nullptr, nullptr);
    std::printf("note: the ANSI code page %u has no e-acute; an ASCII name is used\n", GetACP());
  }
  Copy(c, L"landscape.jpg", wideName);
  wlx::Module m;
  if (!Load(c, m)) return;
  m.SetDefaultParams(2);
  // The ANSI call comes first, so that it is the one that reads the file.
  HBITMAP a = m.previewA(ansi, 128, 128, nullptr, 0);
  Check(a != nullptr, "the ANSI export gives a thumbnail for " + wlx::Narrow(wideName));
  wlx::Picture pa, pw;
  const bool read = a != nullptr && wlx::ReadPicture(a, pa);
  if (a != nullptr) DeleteObject(a);
  Check(read && Thumb(m, path, 128, 128, pw) && SamePixels(pa, pw), "the wide export gives the same bitmap");
}

void ContentBuffer(const Context& c) {
  wlx::Module m;
  if (!Load(c, m)) return;
  m.SetDefaultParams(2);
  // Three names for the same bytes, so that the cache answers none of them.
  char garbage[64];
  for (size_t i = 0; i < sizeof garbage; ++i) garbage[i] = static_cast<char>(0xA5 ^ (i * 37));
  wlx::Picture plain, withGarbage, withBadLength;
  Check(Thumb(m, Copy(c, L"ring.gif", L"content-1.gif"), 64, 64, plain, nullptr, 0), "null content buffer");
  Check(Thumb(m, Copy(c, L"ring.gif", L"content-2.gif"), 64, 64, withGarbage, garbage, sizeof garbage) &&
            SamePixels(plain, withGarbage),
        "a content buffer of garbage changes nothing");
  Check(Thumb(m, Copy(c, L"ring.gif", L"content-3.gif"), 64, 64, withBadLength, nullptr, 123456) &&
            SamePixels(plain, withBadLength),
        "a null buffer with a length changes nothing");
}

void Unopenable(const Context& c) {
  wlx::Module m;
  if (!Load(c, m)) return;
  m.SetDefaultParams(2);
  const std::wstring missing = c.work + L"\\no such folder\\missing.jpg";
  Check(m.previewW(missing.c_str(), 96, 96, nullptr, 0) == nullptr, "a missing file gives 0");
  Check(m.previewW(c.work.c_str(), 96, 96, nullptr, 0) == nullptr, "a folder gives 0");
  Check(m.previewA("C:\\no such folder\\missing.jpg", 96, 96, nullptr, 0) == nullptr,
        "a missing file gives 0 through the ANSI export");
  wlx::Picture p;
  Check(Thumb(m, c.samples + L"\\landscape.bmp", 96, 96, p), "the next request works");
}

void HostDeletes(const Context& c) {
  wlx::Module m;
  if (!Load(c, m)) return;
  m.SetDefaultParams(2);
  const std::wstring a = c.samples + L"\\landscape.jpg", b = c.samples + L"\\checker-trns.png";
  // Each Thumb deletes the handle it received; the cache keeps its own copy.
  wlx::Picture first, again, other, third;
  Check(Thumb(m, a, 100, 100, first), "first request");
  Check(Thumb(m, a, 100, 100, again) && SamePixels(first, again), "the same request after the host deleted the first");
  Check(Thumb(m, b, 100, 100, other), "another file");
  Check(Thumb(m, a, 100, 100, third) && SamePixels(first, third), "the first file once more");
  // Two handles alive at once are distinct bitmaps.
  HBITMAP h1 = m.previewW(a.c_str(), 100, 100, nullptr, 0), h2 = m.previewW(a.c_str(), 100, 100, nullptr, 0);
  Check(h1 != nullptr && h2 != nullptr && h1 != h2, "two requests give two distinct handles");
  if (h1 != nullptr) DeleteObject(h1);
  wlx::Picture afterDelete;
  Check(h2 != nullptr && wlx::ReadPicture(h2, afterDelete) && SamePixels(first, afterDelete),
        "deleting one leaves the other intact");
  if (h2 != nullptr) DeleteObject(h2);
}

void UnloadReload(const Context& c) {
  // A run of requests over every sample, every handle deleted, then the
  // module unloaded: the unload report (on standard error) must stay silent;
  // CTest fails this case on any "Memory outflow" line.
  for (int round = 0; round < 2; ++round) {
    wlx::Module m;
    if (!Load(c, m)) return;
    m.SetDefaultParams(round == 0 ? 2 : 1);
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW((c.samples + L"\\*").c_str(), &data);
    int made = 0;
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::wstring file = c.samples + L"\\" + data.cFileName;
        for (int box : {48, 200}) {
          HBITMAP h = m.previewW(file.c_str(), box, box, nullptr, 0);
          if (h != nullptr) {
            ++made;
            DeleteObject(h);
          }
        }
      } while (FindNextFileW(find, &data));
      FindClose(find);
    }
    Check(made > 0, "round " + std::to_string(round + 1) + ": " + std::to_string(made) + " thumbnails made");
    m.Unload();
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::map<std::wstring, std::function<void(const Context&)>> cases = {
      {L"version1", Version1},       {L"version2", Version2},         {L"no-default-params", NoDefaultParams},
      {L"ansi-name", AnsiName},      {L"content-buffer", ContentBuffer}, {L"unopenable", Unopenable},
      {L"host-deletes", HostDeletes}, {L"unload", UnloadReload},
  };
  if (argc != 5 || cases.count(argv[4]) == 0) {
    std::fputs("usage: zan_host_checks MODULE SAMPLES_DIR WORK_DIR CASE\ncases:", stderr);
    for (const auto& [name, run] : cases) std::fprintf(stderr, " %s", wlx::Narrow(name).c_str());
    std::fputs("\n", stderr);
    return 2;
  }
  Context c{argv[1], argv[2], argv[3]};
  // The work folder and any missing parent.
  for (size_t at = c.work.find_first_of(L"\\/", 3); at != std::wstring::npos; at = c.work.find_first_of(L"\\/", at + 1))
    CreateDirectoryW(c.work.substr(0, at).c_str(), nullptr);
  CreateDirectoryW(c.work.c_str(), nullptr);
  try {
    cases.at(argv[4])(c);
  } catch (const std::exception& e) {
    Check(false, std::string("exception: ") + e.what());
  }
  return g_failures == 0 ? 0 : 1;
}
