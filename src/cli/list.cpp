// zanpictors list / extract: what the core finds inside a file.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "front/choice.h"
#include "front/pipeline.h"
#include "meta/buffered_stream.h"
#include "meta/meta.h"
#include "platform/system.h"

namespace zan::cli {

namespace {

const char kListHelp[] =
    "usage: zanpictors list FILE [-s WxH] [--json]\n"
    "\n"
    "Shows the file class that claimed FILE and one row per embedded preview in\n"
    "depth-first order: index, owner node, type, pixel size, byte count,\n"
    "orientation code, and '*' on the preview tried first for the box.\n"
    "\n"
    "  -s WxH | -s N   the box used for the choice (default 256x256)\n"
    "  --json          print a JSON object {class, previews[...]}\n";

const char kExtractHelp[] =
    "usage: zanpictors extract FILE -i N -o OUT\n"
    "\n"
    "Writes the bytes of embedded preview N (as numbered by 'list') to OUT.\n";

struct Parsed {
  std::unique_ptr<TFileStream> file;
  std::unique_ptr<TzanBufferedStream> stream;
  const TzanMetaFileClass* cls = nullptr;
  std::unique_ptr<TzanMetaFile> meta;
};

// Parses FILE with the registered file classes, as the pipeline does. A
// parse error leaves no tree (the pipeline would not use one either).
bool Parse(const std::string& path, int width, int height, Parsed& out, std::string& error) {
  LoadModule();
  try {
    out.file = std::make_unique<TFileStream>(path);
    out.stream = std::make_unique<TzanBufferedStream>(out.file.get(), false);
    out.cls = FindMetaFileClass(*out.stream);
    if (out.cls != nullptr) {
      out.meta = out.cls->Create();
      out.meta->SetDefThumbnailSize({width, height});
      try {
        out.meta->LoadFromStream(*out.stream);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "zanpictors: %s: parse error: %s\n", path.c_str(), e.what());
        out.meta.reset();
      }
    }
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

struct Row {
  int index;
  std::string owner, type;
  int32_t width, height;
  uint32_t bytes;
  int32_t orientation;
  bool chosen;
};

}  // namespace

int ListCommand(const std::vector<std::string>& args) {
  std::string path;
  int width = 256, height = 256;
  bool json = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kListHelp, stdout);
      return 0;
    } else if (a == "--json") {
      json = true;
    } else if (a == "-s") {
      if (i + 1 >= args.size() || !ParseBox(args[i + 1], width, height)) {
        std::fputs("zanpictors list: -s needs a box WxH or N\n", stderr);
        return 2;
      }
      ++i;
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "zanpictors list: unknown option '%s' (try --help)\n", a.c_str());
      return 2;
    } else if (path.empty()) {
      path = a;
    } else {
      std::fputs("zanpictors list: one file at a time\n", stderr);
      return 2;
    }
  }
  if (path.empty()) {
    std::fputs("zanpictors list: no input file (try --help)\n", stderr);
    return 2;
  }
  std::string error;
  Parsed parsed;
  if (!CheckReadable(path, error) || !Parse(path, width, height, parsed, error)) {
    std::fprintf(stderr, "zanpictors list: %s: %s\n", path.c_str(), error.c_str());
    return 2;
  }

  std::vector<Row> rows;
  if (parsed.meta) {
    TzanMetaFile& meta = *parsed.meta;
    const int32_t best = FindBestThumbnail(meta, width, height, {});
    for (int32_t i = 0; i < meta.GetThumbnailCount(); ++i) {
      const TzanMetaObject* owner = meta.FindThumbnailOwner(i);
      Row r{i, owner ? owner->FullName() : std::string(), "", 0, 0, meta.GetThumbnailDataSize(i),
            meta.GetThumbnailRotateMirror(i), i == best};
      if (owner != nullptr && owner->FThumbnailStream) {
        TReadOnlyMemoryStream s(meta.GetThumbnailData(i), r.bytes);
        r.type = GetGraphicFileType(s);
        const TSize size = GetGraphicPixelSize(s);
        r.width = size.cx;
        r.height = size.cy;
      }
      rows.push_back(r);
    }
  }

  const std::string cls = parsed.cls ? parsed.cls->ClassName() : "";
  if (json) {
    std::printf("{\"class\": %s, \"previews\": [", parsed.cls ? JsonString(cls).c_str() : "null");
    for (size_t i = 0; i < rows.size(); ++i) {
      const Row& r = rows[i];
      std::printf(
          "%s\n  {\"index\": %d, \"owner\": %s, \"type\": %s, \"width\": %d, \"height\": %d, \"bytes\": %u, "
          "\"orientation\": %d, \"chosen\": %s}",
          i ? "," : "", r.index, JsonString(r.owner).c_str(), JsonString(r.type).c_str(), r.width, r.height,
          r.bytes, r.orientation, r.chosen ? "true" : "false");
    }
    std::printf("%s]}\n", rows.empty() ? "" : "\n");
    return 0;
  }
  std::printf("%s: %s\n", path.c_str(), parsed.cls ? cls.c_str() : "(no file class)");
  if (rows.empty()) {
    std::printf("no embedded previews\n");
    return 0;
  }
  std::printf("%5s  %-40s %-4s %11s %9s %6s\n", "index", "owner", "type", "size", "bytes", "orient");
  for (const Row& r : rows) {
    const std::string size = std::to_string(r.width) + "x" + std::to_string(r.height);
    std::printf("%5d  %-40s %-4s %11s %9u %6d %s\n", r.index, r.owner.c_str(), r.type.c_str(), size.c_str(),
                r.bytes, r.orientation, r.chosen ? "*" : "");
  }
  return 0;
}

int ExtractCommand(const std::vector<std::string>& args) {
  std::string path, output;
  long index = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kExtractHelp, stdout);
      return 0;
    } else if (a == "-i" && i + 1 < args.size()) {
      const std::string& v = args[++i];
      char* end = nullptr;
      index = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != 0 || index < 0) {
        std::fprintf(stderr, "zanpictors extract: bad preview index '%s'\n", v.c_str());
        return 2;
      }
    } else if (a == "-o" && i + 1 < args.size()) {
      output = args[++i];
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "zanpictors extract: bad option '%s' (try --help)\n", a.c_str());
      return 2;
    } else if (path.empty()) {
      path = a;
    } else {
      std::fputs("zanpictors extract: one file at a time\n", stderr);
      return 2;
    }
  }
  if (path.empty() || output.empty() || index < 0) {
    std::fputs("zanpictors extract: need FILE, -i N and -o OUT (try --help)\n", stderr);
    return 2;
  }
  std::string error;
  Parsed parsed;
  if (!CheckReadable(path, error) || !Parse(path, 256, 256, parsed, error)) {
    std::fprintf(stderr, "zanpictors extract: %s: %s\n", path.c_str(), error.c_str());
    return 2;
  }
  const int32_t count = parsed.meta ? parsed.meta->GetThumbnailCount() : 0;
  if (index >= count) {
    std::fprintf(stderr, "zanpictors extract: %s: no preview %ld (the file has %d)\n", path.c_str(), index, count);
    return 1;
  }
  const auto i = static_cast<int32_t>(index);
  if (!WriteFile(output, parsed.meta->GetThumbnailData(i), parsed.meta->GetThumbnailDataSize(i), error)) {
    std::fprintf(stderr, "zanpictors extract: %s: %s\n", output.c_str(), error.c_str());
    return 2;
  }
  return 0;
}

}  // namespace zan::cli
