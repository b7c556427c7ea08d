// zan_imgdiff: compares the PNG thumbnails of two folders, file by file:
// the same size, the same channels and a largest channel difference within
// the tolerance. Used by the parity test between the Linux and the Windows
// builds.
//   zan_imgdiff DIR_A DIR_B [--tolerance N] [--only-in-b-ok SUFFIX]...
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "platform/codecs.h"
#include "platform/stream.h"
#include "wlx_host.h"

namespace {

std::set<std::wstring> PngFiles(const std::wstring& dir) {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW((dir + L"\\*.png").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.insert(data.cFileName);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

bool EndsWith(const std::wstring& s, const std::wstring& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

zan::PngImage Load(const std::wstring& path) {
  zan::TFileStream file(std::u16string(path.begin(), path.end()));
  return zan::PngRead(file);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fputs("usage: zan_imgdiff DIR_A DIR_B [--tolerance N] [--only-in-b-ok SUFFIX]...\n", stderr);
    return 2;
  }
  const std::wstring dirA = argv[1], dirB = argv[2];
  int tolerance = 1;
  std::vector<std::wstring> onlyInBOk;
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::wstring option = argv[i];
    if (option == L"--tolerance") {
      tolerance = _wtoi(argv[i + 1]);
    } else if (option == L"--only-in-b-ok") {
      onlyInBOk.push_back(argv[i + 1]);
    } else {
      std::fprintf(stderr, "zan_imgdiff: unknown option %s\n", wlx::Narrow(option).c_str());
      return 2;
    }
  }

  const std::set<std::wstring> a = PngFiles(dirA), b = PngFiles(dirB);
  std::set<std::wstring> all = a;
  all.insert(b.begin(), b.end());
  int same = 0, bad = 0;
  for (const std::wstring& name : all) {
    const std::string shown = wlx::Narrow(name);
    if (!a.count(name)) {
      const bool ok = std::any_of(onlyInBOk.begin(), onlyInBOk.end(),
                                  [&](const std::wstring& s) { return EndsWith(name, s); });
      std::printf("%s %s: only in %s\n", ok ? "ok  " : "FAIL", shown.c_str(), wlx::Narrow(dirB).c_str());
      ok ? ++same : ++bad;
      continue;
    }
    if (!b.count(name)) {
      std::printf("FAIL %s: only in %s\n", shown.c_str(), wlx::Narrow(dirA).c_str());
      ++bad;
      continue;
    }
    try {
      const zan::PngImage pa = Load(dirA + L"\\" + name), pb = Load(dirB + L"\\" + name);
      if (pa.width != pb.width || pa.height != pb.height || pa.Channels() != pb.Channels()) {
        std::printf("FAIL %s: %dx%d with %d channels against %dx%d with %d channels\n", shown.c_str(), pa.width,
                    pa.height, pa.Channels(), pb.width, pb.height, pb.Channels());
        ++bad;
        continue;
      }
      int largest = 0;
      for (size_t i = 0; i < pa.samples.size(); ++i)
        largest = std::max(largest, std::abs(int(pa.samples[i]) - int(pb.samples[i])));
      const bool ok = largest <= tolerance;
      std::printf("%s %s: %dx%d, largest channel difference %d\n", ok ? "ok  " : "FAIL", shown.c_str(), pa.width,
                  pa.height, largest);
      ok ? ++same : ++bad;
    } catch (const std::exception& e) {
      std::printf("FAIL %s: %s\n", shown.c_str(), e.what());
      ++bad;
    }
  }
  std::printf("parity: %d files, %d within tolerance %d, %d not\n", same + bad, same, tolerance, bad);
  return bad == 0 && same > 0 ? 0 : 1;
}
