// Icon and cursor files: TzanIcon, its stream adapters, the choice of the
// image for a thumbnail box, and the unit's registration with the front end.
#include "icon/icon.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>

#include "front/hooks.h"
#include "meta/utils.h"
#include "platform/system.h"

namespace zan {

// ---- Live instances -------------------------------------------------------------

IconLiveCounters& IconLiveCount() {
  static IconLiveCounters counters;
  return counters;
}

std::vector<std::string> IconLeakMessages() {
  std::vector<std::string> lines;
  const IconLiveCounters& c = IconLiveCount();
  const std::pair<int32_t, const char*> counts[] = {
      {c.iconObjects, "TzanIconObject"}, {c.icons, "TzanIcon"}, {c.iconLibs, "TzanIconLib"}};
  for (const auto& [count, name] : counts)
    if (count != 0) lines.push_back("Memory outflow: " + std::to_string(count) + " " + name + " not destroyed");
  return lines;
}

// ---- TzanIcon ---------------------------------------------------------------------

TzanIcon::TzanIcon() { ++IconLiveCount().icons; }

TzanIcon::~TzanIcon() { --IconLiveCount().icons; }

void TzanIcon::Clear() {
  FList.clear();
  FIconIndex = -1;
}

const TzanIconObjectRef& TzanIcon::Icons(int32_t index) const {
  if (index < 0 || index >= IconCount()) throw Exception("Icon index out of range");
  return FList[size_t(index)];
}

void TzanIcon::SetIconIndex(int32_t index) {
  if (index < -1 || index >= IconCount()) throw Exception("Icon index out of range");
  FIconIndex = index;
}

void TzanIcon::AddIcon(TzanIconObjectRef image) { InsertIcon(IconCount(), std::move(image)); }

void TzanIcon::InsertIcon(int32_t index, TzanIconObjectRef image) {
  if (!image) throw Exception("Icon image missing");
  if (index < 0 || index > IconCount()) throw Exception("Icon index out of range");
  FList.insert(FList.begin() + index, std::move(image));
  if (FIconIndex < 0)
    FIconIndex = 0;
  else if (index <= FIconIndex)
    ++FIconIndex;  // the current image stays current
}

const TzanIconObject* TzanIcon::Current() const {
  return FIconIndex >= 0 && FIconIndex < IconCount() ? FList[size_t(FIconIndex)].get() : nullptr;
}

int32_t TzanIcon::Width() const { return Current() ? Current()->Width() : 0; }
int32_t TzanIcon::Height() const { return Current() ? Current()->Height() : 0; }
bool TzanIcon::Empty() const { return Current() == nullptr || Current()->Empty(); }
uint16_t TzanIcon::XHotSpot() const { return Current() ? Current()->XHotSpot() : 0; }
uint16_t TzanIcon::YHotSpot() const { return Current() ? Current()->YHotSpot() : 0; }

void TzanIcon::LoadFromStream(TStream& stream) {
  Clear();
  const int64_t start = stream.Position();
  for (const TzanIconStreamAdapter* adapter : IconStreamAdapters()) {
    try {
      stream.SetPosition(start);
      if (!adapter->CanLoadFromStream(stream)) continue;
      stream.SetPosition(start);
      adapter->LoadFromStream(*this, stream);
      if (IconCount() > 0) FIconIndex = 0;
      return;  // the first adapter that accepts decides, images or not
    } catch (const std::exception&) {
      // this adapter failed; the next one may read the stream
    }
  }
}

void TzanIcon::SaveToStream(TStream& stream) const { TzanIconIcoCurStreamAdapter::Instance().SaveToStream(*this, stream); }

// ---- Adapters -----------------------------------------------------------------------

const std::vector<const TzanIconStreamAdapter*>& IconStreamAdapters() {
  // The system image-list layout is not read: no thumbnail reaches it.
  static const std::vector<const TzanIconStreamAdapter*> adapters{&TzanIconIcoCurStreamAdapter::Instance()};
  return adapters;
}

const TzanIconIcoCurStreamAdapter& TzanIconIcoCurStreamAdapter::Instance() {
  static const TzanIconIcoCurStreamAdapter adapter;
  return adapter;
}

std::string TzanIconIcoCurStreamAdapter::GetExtension(int32_t index) const {
  return index == 0 ? "ico" : index == 1 ? "cur" : "";
}

bool TzanIconIcoCurStreamAdapter::CanLoadFromStream(TStream& stream) const {
  uint8_t header[6];
  stream.ReadBuffer(header, sizeof header);
  const uint16_t type = GetU16LE(header + 2);
  return GetU16LE(header) == 0 && (type == 1 || type == 2);
}

void TzanIconIcoCurStreamAdapter::LoadFromStream(TzanIcon& icon, TStream& stream) const {
  const int64_t start = stream.Position();
  uint8_t header[6];
  stream.ReadBuffer(header, sizeof header);
  icon.SetType(GetU16LE(header + 2) == 2 ? TzanIconType::itCursor : TzanIconType::itIcon);
  const int32_t count = GetU16LE(header + 4);
  const int64_t size = stream.Size();
  int64_t budget = std::max(kIconMemoryFloor, kIconMemoryPerFileByte * size);
  for (int32_t i = 0; i < count; ++i) {
    const int64_t entryPos = start + 6 + 16 * int64_t(i);
    // A count beyond the entries present: this entry and every later one
    // lie past the end and would all fail alike.
    if (entryPos + 16 > size) break;
    try {
      auto image = std::make_shared<TzanIconObject>();
      image->SetType(icon.Type_());
      stream.SetPosition(entryPos);
      image->LoadEntryFromStream(stream, start, budget);
      budget -= image->MemorySize();
      icon.AddIcon(std::move(image));
    } catch (const std::exception&) {
      // only this image is lost
    }
  }
}

namespace {

void PutU16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  PutU16(out, v & 0xFFFF);
  PutU16(out, v >> 16);
}

// An image's data as an ICO file stores it: its PNG bytes when it was read
// from a PNG, else a DIB (information header, palette, colour, mask).
std::vector<uint8_t> ImageData(const TzanIconObject& image) {
  if (!image.PNGStream().empty()) return image.PNGStream();
  std::vector<uint8_t> out;
  const int32_t colors = BitmapPaletteSize(image.BitCount());
  const size_t pixelBytes = image.ColorData().size() + image.MaskData().size();
  PutU32(out, 40);
  PutU32(out, static_cast<uint32_t>(image.Width()));
  PutU32(out, static_cast<uint32_t>(image.Height()) * 2);
  PutU16(out, 1);
  PutU16(out, static_cast<uint32_t>(image.BitCount()));
  PutU32(out, 0);  // uncompressed
  PutU32(out, static_cast<uint32_t>(pixelBytes));
  out.resize(out.size() + 16, 0);  // resolution, colours used and important
  for (int32_t i = 0; i < colors; ++i) {
    const TzanIconPaletteEntry& e = image.ColorPalette()[size_t(i)];
    out.insert(out.end(), {e.blue, e.green, e.red, e.reserved});
  }
  out.insert(out.end(), image.ColorData().begin(), image.ColorData().end());
  out.insert(out.end(), image.MaskData().begin(), image.MaskData().end());
  return out;
}

}  // namespace

void TzanIconIcoCurStreamAdapter::SaveToStream(const TzanIcon& icon, TStream& stream) const {
  std::vector<const TzanIconObject*> images;
  for (int32_t i = 0; i < icon.IconCount(); ++i)
    if (!icon.Icons(i)->Empty()) images.push_back(icon.Icons(i).get());
  if (images.size() > 0xFFFF) throw Exception("Too many icon images");
  const bool cursor = icon.Type_() == TzanIconType::itCursor;

  std::vector<uint8_t> head;
  PutU16(head, 0);
  PutU16(head, cursor ? 2 : 1);
  PutU16(head, static_cast<uint32_t>(images.size()));
  std::vector<std::vector<uint8_t>> data;
  uint64_t offset = 6 + 16 * images.size();
  for (const TzanIconObject* image : images) {
    data.push_back(ImageData(*image));
    if (offset + data.back().size() > UINT32_MAX) throw Exception("Icon file too large");
    const int32_t bits = image->BitCount();
    head.push_back(static_cast<uint8_t>(image->Width() >= 256 ? 0 : image->Width()));
    head.push_back(static_cast<uint8_t>(image->Height() >= 256 ? 0 : image->Height()));
    head.push_back(static_cast<uint8_t>(bits < 8 ? 1 << bits : 0));
    head.push_back(0);
    PutU16(head, cursor ? image->XHotSpot() : 1);
    PutU16(head, cursor ? image->YHotSpot() : static_cast<uint32_t>(bits));
    PutU32(head, static_cast<uint32_t>(data.back().size()));
    PutU32(head, static_cast<uint32_t>(offset));
    offset += data.back().size();
  }
  stream.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));
  for (const auto& d : data) stream.WriteBuffer(d.data(), static_cast<int64_t>(d.size()));
}

// ---- The image for a box --------------------------------------------------------------

int32_t ChooseIconImage(const TzanIcon& icon, int32_t boxWidth, int32_t boxHeight) {
  // Both areas are 32-bit products, as the metric has always been computed.
  const int32_t boxArea = static_cast<int32_t>(int64_t(boxWidth) * boxHeight);
  int32_t best = -1;
  double bestMetric = 0;
  int32_t bestBitCount = 0;
  for (int32_t i = 0; i < icon.IconCount(); ++i) {
    const TzanIconObject& image = *icon.Icons(i);
    const int32_t area = static_cast<int32_t>(int64_t(image.Width()) * image.Height());
    if (area == 0) continue;  // an empty image is never a candidate
    const double metric = std::fabs(1.0 - double(boxArea) / double(area));
    if (best == -1 || metric < bestMetric || (metric == bestMetric && image.BitCount() >= bestBitCount)) {
      best = i;
      bestMetric = metric;
      bestBitCount = image.BitCount();
    }
  }
  return best;
}

bool IconStreamToPng(TStream& stream, int32_t boxWidth, int32_t boxHeight, PngImage& out) {
  TzanIcon icon;
  icon.LoadFromStream(stream);
  const int32_t chosen = ChooseIconImage(icon, boxWidth, boxHeight);
  if (chosen < 0) return false;
  icon.SetIconIndex(chosen);
  out = icon.Icons(chosen)->CreatePNGObject();
  return true;
}

// ---- Registration ------------------------------------------------------------------------

void RegisterIconUnit() { Hooks().iconToPng = &IconStreamToPng; }

void UnregisterIconUnit() {
  if (Hooks().iconToPng == &IconStreamToPng) Hooks().iconToPng = nullptr;
  const std::vector<std::string> leaks = IconLeakMessages();
  if (leaks.empty()) return;
  std::string caption;
  try {
    caption = std::filesystem::path(ModulePath()).filename().string();
  } catch (const std::exception&) {
  }
  // A message box on Windows; a line on standard error elsewhere.
  for (const std::string& line : leaks) ShowErrorMessage(caption, line);
}

}  // namespace zan
