// JPEG through libjpeg-turbo. libjpeg reports fatal errors through an exit
// routine that must not return; we leave it with longjmp back into a small
// function that holds no object with a destructor, and only then raise a C++
// exception. Nothing C++ is ever thrown through libjpeg's own frames: the
// stream callbacks catch what the stream raises and take the same longjmp.
#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t
#include <cstring>
#include <string>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "platform/codecs.h"

namespace zan {

namespace {

constexpr size_t kChunk = 4096;
// A progressive or multi-scan file may hold any number of scans, each costing
// a pass over the whole coefficient buffer: limit both the count and the
// total work (scans x pixels) so that no input keeps the decoder busy long.
constexpr int kMaxScans = 1000;
constexpr double kMaxScanPixels = 34359738368.0;  // 2^35: 128 scans of kMaxPixels
// Memory libjpeg may take for its own buffers (the whole-image coefficient
// buffer of a progressive file above all): in proportion to the file, within
// these bounds; beyond it the decode fails.
constexpr int64_t kMinLibMemory = int64_t(64) << 20;
constexpr int64_t kMaxLibMemory = int64_t(512) << 20;
constexpr int64_t kLibMemoryPerByte = 1024;
// Decoded pixels per byte of input beyond kFreePixels (a plain picture packs
// far fewer; only a file cut down to a stub of its size comes near).
constexpr int64_t kPixelsPerByte = 1024;

struct ErrorMgr {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool prematureEnd;  // libjpeg needed entropy-coded data that was not there
};

[[noreturn]] void Bail(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorMgr*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

[[noreturn]] void OnErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorMgr*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  Bail(cinfo);
}

void OnEmitMessage(j_common_ptr cinfo, int level) {
  // Warnings are silent. The one that says the Huffman decoder ran into a
  // marker (our fake EOI at the end of the data, or a real one) while it
  // still needed bits means that the picture is incomplete.
  if (level < 0) {
    auto* err = reinterpret_cast<ErrorMgr*>(cinfo->err);
    if (cinfo->err->msg_code == JWRN_HIT_MARKER) err->prematureEnd = true;
    cinfo->err->num_warnings++;
  }
}

void OnOutputMessage(j_common_ptr) {}

void InitErrorMgr(ErrorMgr& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = OnErrorExit;
  err.pub.emit_message = OnEmitMessage;
  err.pub.output_message = OnOutputMessage;
  err.message[0] = '\0';
  err.prematureEnd = false;
}

// Copies a C++ exception's message into the error manager and leaves libjpeg.
[[noreturn]] void BailWith(j_common_ptr cinfo, const char* what) {
  auto* err = reinterpret_cast<ErrorMgr*>(cinfo->err);
  std::snprintf(err->message, sizeof err->message, "%s", what);
  Bail(cinfo);
}

// ---- source -------------------------------------------------------------------

struct SourceMgr {
  jpeg_source_mgr pub;
  TStream* stream;
  bool eofInserted;  // the stream ran dry and a fake EOI was handed to libjpeg
  bool bufferIsFake;  // the buffer holds that fake EOI, not stream bytes
  JOCTET buffer[kChunk];
};

void SrcInit(j_decompress_ptr) {}

boolean SrcFill(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<SourceMgr*>(cinfo->src);
  int64_t n = 0;
  bool failed = false;
  char what[JMSG_LENGTH_MAX] = "";
  try {
    n = src->stream->Read(src->buffer, kChunk);
  } catch (const std::exception& e) {
    failed = true;
    std::snprintf(what, sizeof what, "%s", e.what());
  } catch (...) {
    failed = true;
    std::snprintf(what, sizeof what, "Stream read error");
  }
  if (failed) BailWith(reinterpret_cast<j_common_ptr>(cinfo), what);
  if (n <= 0) {
    // End of data: hand over an EOI marker so that libjpeg finishes with what
    // it has (the rest of the picture stays grey).
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    n = 2;
    src->eofInserted = true;
    src->bufferIsFake = true;
    WARNMS(cinfo, JWRN_JPEG_EOF);
  } else {
    src->bufferIsFake = false;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = static_cast<size_t>(n);
  return TRUE;
}

void SrcSkip(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<SourceMgr*>(cinfo->src);
  if (count <= 0) return;
  const size_t want = static_cast<size_t>(count);
  if (want <= src->pub.bytes_in_buffer) {
    src->pub.next_input_byte += want;
    src->pub.bytes_in_buffer -= want;
    return;
  }
  const int64_t beyond = static_cast<int64_t>(want - src->pub.bytes_in_buffer);
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = 0;
  bool failed = false;
  try {
    // Never past the end: a later read then finds no data and ends the image.
    const int64_t rest = src->stream->Remaining();
    src->stream->Seek(beyond < rest ? beyond : rest, SeekOrigin::Current);
  } catch (...) {
    failed = true;
  }
  if (failed) BailWith(reinterpret_cast<j_common_ptr>(cinfo), "Stream seek error");
}

void SrcTerm(j_decompress_ptr) {}

void InitSource(SourceMgr& src, TStream& stream) {
  src.pub.init_source = SrcInit;
  src.pub.fill_input_buffer = SrcFill;
  src.pub.skip_input_data = SrcSkip;
  src.pub.resync_to_restart = jpeg_resync_to_restart;
  src.pub.term_source = SrcTerm;
  src.pub.next_input_byte = nullptr;
  src.pub.bytes_in_buffer = 0;
  src.stream = &stream;
  src.eofInserted = false;
  src.bufferIsFake = false;
}

void OnProgress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  const double pixels = static_cast<double>(d->image_width) * static_cast<double>(d->image_height);
  if (d->input_scan_number > kMaxScans || d->input_scan_number * pixels > kMaxScanPixels)
    BailWith(cinfo, "JPEG has too many scans");
}

// Everything libjpeg needs for one decode; plain data only, so that a longjmp
// out of libjpeg skips nothing that needs destroying.
struct DecodeState {
  jpeg_decompress_struct cinfo;
  ErrorMgr err;
  SourceMgr src;
  jpeg_progress_mgr progress;
  bool created;
  long memoryLimit;
};

// Owns a DecodeState and destroys libjpeg's object whatever happens.
class DecodeContext {
 public:
  explicit DecodeContext(TStream& stream) : st_(new DecodeState()) {
    InitErrorMgr(st_->err);
    InitSource(st_->src, stream);
    st_->progress.progress_monitor = OnProgress;
    st_->created = false;
    int64_t mem = 0;
    try {
      mem = stream.Remaining();
    } catch (...) {
    }
    mem = mem > kMaxLibMemory / kLibMemoryPerByte ? kMaxLibMemory : mem * kLibMemoryPerByte;
    st_->memoryLimit = static_cast<long>(mem < kMinLibMemory ? kMinLibMemory : mem);
  }
  ~DecodeContext() {
    if (st_->created) jpeg_destroy_decompress(&st_->cinfo);
    delete st_;
  }
  DecodeContext(const DecodeContext&) = delete;
  DecodeContext& operator=(const DecodeContext&) = delete;
  DecodeState& State() { return *st_; }

  // Gives the read-ahead that libjpeg did not use back to the stream.
  void ReturnUnused() {
    const size_t unused = st_->src.pub.bytes_in_buffer;
    // A fake EOI never came from the stream.
    if (unused != 0 && !st_->src.bufferIsFake)
      st_->src.stream->Seek(-static_cast<int64_t>(unused), SeekOrigin::Current);
    st_->src.pub.bytes_in_buffer = 0;
  }

 private:
  DecodeState* st_;
};

// Creates the decompressor and reads the markers up to the first scan.
// Returns false when libjpeg raised (the message is in st.err).
bool ReadHeaderImpl(DecodeState& st) {
  st.cinfo.err = &st.err.pub;  // must be set before the object is created
  if (setjmp(st.err.jump)) return false;
  jpeg_create_decompress(&st.cinfo);
  st.created = true;
  st.cinfo.src = &st.src.pub;
  st.cinfo.progress = &st.progress;
  st.cinfo.mem->max_memory_to_use = st.memoryLimit;
  jpeg_read_header(&st.cinfo, TRUE);
  return true;
}

enum class Pixels { Bgra, Cmyk, CmykInverted };

// Starts decompression at 1/scale and picks the output layout.
bool StartImpl(DecodeState& st, int scale, Pixels& layout, bool& multiScan) {
  if (setjmp(st.err.jump)) return false;
  j_decompress_ptr cinfo = &st.cinfo;
  multiScan = jpeg_has_multiple_scans(cinfo);
  cinfo->scale_num = 1;
  cinfo->scale_denom = static_cast<unsigned int>(scale);
  cinfo->dct_method = JDCT_ISLOW;
  switch (cinfo->jpeg_color_space) {
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo->out_color_space = JCS_CMYK;
      // Adobe applications store CMYK inverted (0 = full ink).
      layout = cinfo->saw_Adobe_marker ? Pixels::CmykInverted : Pixels::Cmyk;
      break;
    default:
      cinfo->out_color_space = JCS_EXT_BGRA;
      layout = Pixels::Bgra;
      break;
  }
  jpeg_calc_output_dimensions(cinfo);
  return true;
}

bool BeginImpl(DecodeState& st) {
  if (setjmp(st.err.jump)) return false;
  jpeg_start_decompress(&st.cinfo);
  return true;
}

// Reads the scanlines into out (already sized). row is scratch for CMYK.
bool ScanlinesImpl(DecodeState& st, Bitmap32& out, Pixels layout, uint8_t* cmykRow) {
  if (setjmp(st.err.jump)) return false;
  j_decompress_ptr cinfo = &st.cinfo;
  while (cinfo->output_scanline < cinfo->output_height) {
    const JDIMENSION y = cinfo->output_scanline;
    uint32_t* dst = out.Row(static_cast<int32_t>(y));
    JSAMPROW row = layout == Pixels::Bgra ? reinterpret_cast<JSAMPROW>(dst) : cmykRow;
    if (jpeg_read_scanlines(cinfo, &row, 1) != 1) break;
    if (layout != Pixels::Bgra) {
      const bool inverted = layout == Pixels::CmykInverted;
      for (JDIMENSION x = 0; x < cinfo->output_width; ++x) {
        uint32_t c = cmykRow[4 * x], m = cmykRow[4 * x + 1], ye = cmykRow[4 * x + 2], k = cmykRow[4 * x + 3];
        if (!inverted) c = 255 - c, m = 255 - m, ye = 255 - ye, k = 255 - k;
        // With inverted samples the colour is simply sample x K.
        const uint32_t r = (c * k + 127) / 255, g = (m * k + 127) / 255, b = (ye * k + 127) / 255;
        dst[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
      }
    }
  }
  return true;
}

bool FinishImpl(DecodeState& st) {
  if (setjmp(st.err.jump)) return false;
  jpeg_finish_decompress(&st.cinfo);
  return true;
}

[[noreturn]] void Raise(const ErrorMgr& err) {
  throw Exception(std::string("JPEG error: ") + (err.message[0] ? err.message : "unknown"));
}

}  // namespace

JpegHeader JpegReadHeader(TStream& stream) {
  DecodeContext ctx(stream);
  DecodeState& st = ctx.State();
  if (!ReadHeaderImpl(st)) Raise(st.err);
  ctx.ReturnUnused();
  JpegHeader h;
  h.width = static_cast<int32_t>(st.cinfo.image_width);
  h.height = static_cast<int32_t>(st.cinfo.image_height);
  h.components = st.cinfo.num_components;
  return h;
}

Bitmap32 JpegDecode(TStream& stream, int scale, bool* endedEarly) {
  if (scale != 1 && scale != 2 && scale != 4 && scale != 8) throw Exception("Invalid JPEG scale");
  if (endedEarly) *endedEarly = false;
  DecodeContext ctx(stream);
  DecodeState& st = ctx.State();
  Pixels layout = Pixels::Bgra;
  bool multiScan = false;
  const int64_t sourceBytes = stream.Remaining();
  if (!ReadHeaderImpl(st) || !StartImpl(st, scale, layout, multiScan)) Raise(st.err);
  // Refuse oversized pictures before libjpeg or we allocate anything for them.
  CheckPixelBudget(st.cinfo.output_width, st.cinfo.output_height, sourceBytes, kPixelsPerByte);
  if (!BeginImpl(st)) Raise(st.err);

  Bitmap32 out;
  out.SetSize(static_cast<int32_t>(st.cinfo.output_width), static_cast<int32_t>(st.cinfo.output_height));
  std::vector<uint8_t> cmykRow;
  if (layout != Pixels::Bgra) cmykRow.resize(static_cast<size_t>(st.cinfo.output_width) * 4);
  if (!ScanlinesImpl(st, out, layout, cmykRow.data())) Raise(st.err);
  // Our source never suspends, so every row arrives; should one not, it is
  // mid-grey like the parts libjpeg pads.
  for (int32_t y = static_cast<int32_t>(st.cinfo.output_scanline); y < out.Height(); ++y)
    std::fill(out.Row(y), out.Row(y) + out.Width(), 0xFF808080u);
  // A multi-scan file is read whole before the first row comes out; when its
  // data ran out by then, scans are missing (or at least the EOI marker). A
  // single scan that ran dry shows as the decoder's warning instead: the
  // read-ahead may touch the end of a complete scan without harm.
  const bool dryBeforeFinish = st.src.eofInserted;
  if (!FinishImpl(st)) Raise(st.err);
  ctx.ReturnUnused();
  if (endedEarly) *endedEarly = st.err.prematureEnd || (multiScan && dryBeforeFinish);
  return out;
}

// ---- encoding -------------------------------------------------------------------

namespace {

struct DestMgr {
  jpeg_destination_mgr pub;
  TStream* stream;
  JOCTET buffer[kChunk];
};

void DestInit(j_compress_ptr cinfo) {
  auto* dst = reinterpret_cast<DestMgr*>(cinfo->dest);
  dst->pub.next_output_byte = dst->buffer;
  dst->pub.free_in_buffer = kChunk;
}

void DestWrite(j_compress_ptr cinfo, size_t count) {
  auto* dst = reinterpret_cast<DestMgr*>(cinfo->dest);
  bool failed = false;
  try {
    dst->stream->WriteBuffer(dst->buffer, static_cast<int64_t>(count));
  } catch (...) {
    failed = true;
  }
  if (failed) BailWith(reinterpret_cast<j_common_ptr>(cinfo), "Stream write error");
}

boolean DestEmpty(j_compress_ptr cinfo) {
  auto* dst = reinterpret_cast<DestMgr*>(cinfo->dest);
  DestWrite(cinfo, kChunk);
  dst->pub.next_output_byte = dst->buffer;
  dst->pub.free_in_buffer = kChunk;
  return TRUE;
}

void DestTerm(j_compress_ptr cinfo) {
  auto* dst = reinterpret_cast<DestMgr*>(cinfo->dest);
  DestWrite(cinfo, kChunk - dst->pub.free_in_buffer);
}

struct EncodeState {
  jpeg_compress_struct cinfo;
  ErrorMgr err;
  DestMgr dest;
  bool created;
};

// Ink of one BGRA pixel without black generation: C, M, Y from the colour,
// K = 0. Adobe files hold each sample inverted (255 = no ink).
void ToCmyk(const uint32_t* src, uint8_t* dst, int32_t width, bool inverted) {
  for (int32_t x = 0; x < width; ++x) {
    const uint32_t p = src[x];
    const uint8_t r = static_cast<uint8_t>(p >> 16), g = static_cast<uint8_t>(p >> 8), b = static_cast<uint8_t>(p);
    uint8_t* q = dst + 4 * x;
    if (inverted) {
      q[0] = r, q[1] = g, q[2] = b, q[3] = 255;
    } else {
      q[0] = static_cast<uint8_t>(255 - r), q[1] = static_cast<uint8_t>(255 - g), q[2] = static_cast<uint8_t>(255 - b),
      q[3] = 0;
    }
  }
}

bool EncodeImpl(EncodeState& st, const Bitmap32& image, int quality, JpegColor color, bool progressive,
                uint8_t* cmykRow) {
  if (setjmp(st.err.jump)) return false;
  jpeg_create_compress(&st.cinfo);
  st.created = true;
  j_compress_ptr cinfo = &st.cinfo;
  cinfo->dest = &st.dest.pub;
  cinfo->image_width = static_cast<JDIMENSION>(image.Width());
  cinfo->image_height = static_cast<JDIMENSION>(image.Height());
  const bool cmyk = color == JpegColor::Cmyk || color == JpegColor::AdobeCmyk || color == JpegColor::AdobeYcck;
  cinfo->input_components = 4;
  cinfo->in_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  jpeg_set_defaults(cinfo);
  switch (color) {
    case JpegColor::YCbCr:
      break;
    case JpegColor::Grey:
      jpeg_set_colorspace(cinfo, JCS_GRAYSCALE);
      break;
    case JpegColor::Cmyk:
      jpeg_set_colorspace(cinfo, JCS_CMYK);
      cinfo->write_Adobe_marker = FALSE;
      break;
    case JpegColor::AdobeCmyk:
      jpeg_set_colorspace(cinfo, JCS_CMYK);
      break;
    case JpegColor::AdobeYcck:
      jpeg_set_colorspace(cinfo, JCS_YCCK);
      break;
  }
  jpeg_set_quality(cinfo, quality, TRUE);
  if (progressive) jpeg_simple_progression(cinfo);
  jpeg_start_compress(cinfo, TRUE);
  while (cinfo->next_scanline < cinfo->image_height) {
    const uint32_t* src = image.Row(static_cast<int32_t>(cinfo->next_scanline));
    JSAMPROW row;
    if (cmyk) {
      ToCmyk(src, cmykRow, image.Width(), color != JpegColor::Cmyk);
      row = cmykRow;
    } else {
      row = const_cast<JSAMPROW>(reinterpret_cast<const JSAMPLE*>(src));
    }
    jpeg_write_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_compress(cinfo);
  return true;
}

}  // namespace

void JpegEncode(TStream& stream, const Bitmap32& image, int quality, JpegColor color, bool progressive) {
  if (image.Empty()) throw Exception("JPEG error: empty image");
  if (quality < 1) quality = 1;
  if (quality > 100) quality = 100;
  struct Holder {
    EncodeState* st = new EncodeState();
    ~Holder() {
      if (st->created) jpeg_destroy_compress(&st->cinfo);
      delete st;
    }
  } holder;
  EncodeState& st = *holder.st;
  InitErrorMgr(st.err);
  st.cinfo.err = &st.err.pub;
  st.created = false;
  st.dest.pub.init_destination = DestInit;
  st.dest.pub.empty_output_buffer = DestEmpty;
  st.dest.pub.term_destination = DestTerm;
  st.dest.stream = &stream;
  std::vector<uint8_t> cmykRow(static_cast<size_t>(image.Width()) * 4);
  if (!EncodeImpl(st, image, quality, color, progressive, cmykRow.data())) Raise(st.err);
}

}  // namespace zan
