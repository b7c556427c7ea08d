// The node tree, its thumbnail protocol, the file and segment base classes
// and the registry of file classes.
#include "meta/meta.h"

#include <algorithm>

#include "platform/codecs.h"

namespace zan {

// ---- TzanMemoryStream ----------------------------------------------------------

int64_t TzanMemoryStream::Write(const void* buffer, int64_t count) {
  const int64_t n = TMemoryStream::Write(buffer, count);
  // Every write marks the stream, even one of zero bytes.
  FChanged = true;
  return n;
}

void TzanMemoryStream::SetSize(int64_t size) {
  if (size == GetSize()) return;
  TMemoryStream::SetSize(size);
  FChanged = true;
}

// ---- TzanMetaObject --------------------------------------------------------------

TzanMetaObject::TzanMetaObject(TzanMetaObject* AOwner) {
  SetOwner(AOwner);
  FChanged = true;
}

TzanMetaObject::~TzanMetaObject() {
  // Virtual dispatch stops at this class here; subclasses with state of
  // their own clear it in their destructors.
  TzanMetaObject::Clear();
  SetOwner(nullptr);
}

void TzanMetaObject::Free(TzanMetaObject* node) {
  if (node == nullptr) return;
  node->BeforeDestruction();
  delete node;
}

void TzanMetaObject::Clear() {
  ClearThumbnail();
  // Last child first. A child's destructor removes it from FItems; the
  // check below keeps the loop finite should a child have been moved to
  // another owner by its BeforeDestruction.
  while (!FItems.empty()) {
    TzanMetaObject* child = FItems.back();
    Free(child);
    if (!FItems.empty() && FItems.back() == child) FItems.pop_back();
  }
}

void TzanMetaObject::Notify(TzanMetaObject* AObject, TzanMetaObjectEvent AEvent, int32_t AParam) {
  if (FOwner != nullptr) FOwner->Notify(AObject, AEvent, AParam);
}

std::string TzanMetaObject::GetName() const { return ClassName(); }

std::string TzanMetaObject::GetValue() const { return {}; }

int32_t TzanMetaObject::GetThumbnailCount() const {
  int32_t count = HasOwnThumbnail() ? 1 : 0;
  for (const TzanMetaObject* child : FItems) count += child->GetThumbnailCount();
  return count;
}

const uint8_t* TzanMetaObject::GetThumbnailData(int32_t n) const {
  const TzanMetaObject* owner = FindThumbnailOwner(n);
  return owner != nullptr ? owner->FThumbnailStream->Memory() : nullptr;
}

uint32_t TzanMetaObject::GetThumbnailDataSize(int32_t n) const {
  const TzanMetaObject* owner = FindThumbnailOwner(n);
  return owner != nullptr ? static_cast<uint32_t>(owner->FThumbnailStream->GetSize()) : 0;
}

TSize TzanMetaObject::GetThumbnailSize(int32_t n) const {
  const TzanMetaObject* owner = FindThumbnailOwner(n);
  if (owner == nullptr) return {};
  TzanMemoryStream& stream = *owner->FThumbnailStream;
  stream.SetPosition(0);
  return GetGraphicPixelSize(stream);
}

const Bitmap32* TzanMetaObject::GetThumbnail(int32_t n) {
  TzanMetaObject* owner = FindThumbnailOwner(n);
  if (owner == nullptr) return nullptr;
  if (!owner->FThumbnailHandle) {
    TzanMemoryStream& stream = *owner->FThumbnailStream;
    try {
      stream.SetPosition(0);
      const std::string type = GetGraphicFileType(stream);
      if (type == "bmp")
        owner->FThumbnailHandle = std::make_unique<Bitmap32>(BmpDecode(stream));
      else if (type == "jpg")
        owner->FThumbnailHandle = std::make_unique<Bitmap32>(JpegDecode(stream, 1));
    } catch (...) {
      // Undecodable bytes give no picture.
      owner->FThumbnailHandle.reset();
    }
  }
  return owner->FThumbnailHandle.get();
}

bool TzanMetaObject::GetChanged() const {
  if (FThumbnailStream && FThumbnailStream->Changed()) return true;
  if (FChanged) return true;
  for (const TzanMetaObject* child : FItems)
    if (child->GetChanged()) return true;
  return false;
}

void TzanMetaObject::SetChanged(bool value) {
  FChanged = value;
  if (FThumbnailStream) FThumbnailStream->SetChanged(value);
  for (TzanMetaObject* child : FItems) child->SetChanged(value);
}

void TzanMetaObject::ClearThumbnail() {
  FThumbnailStream.reset();
  FThumbnailHandle.reset();
}

int32_t TzanMetaObject::IndexOf(const TzanMetaObject* child) const {
  const auto it = std::find(FItems.begin(), FItems.end(), child);
  return it == FItems.end() ? -1 : static_cast<int32_t>(it - FItems.begin());
}

bool TzanMetaObject::HasOwnThumbnail() const { return FThumbnailStream && FThumbnailStream->GetSize() > 0; }

const TzanMetaObject* TzanMetaObject::FindThumbnailOwner(int32_t n) const {
  // Depth-first numbering: the node's own thumbnail, then each child's.
  if (n < 0) return nullptr;
  if (HasOwnThumbnail()) {
    if (n == 0) return this;
    --n;
  }
  for (const TzanMetaObject* child : FItems) {
    const int32_t count = child->GetThumbnailCount();
    if (n < count) return child->FindThumbnailOwner(n);
    n -= count;
  }
  return nullptr;
}

TzanMetaObject* TzanMetaObject::FindThumbnailOwner(int32_t n) {
  return const_cast<TzanMetaObject*>(static_cast<const TzanMetaObject*>(this)->FindThumbnailOwner(n));
}

int32_t TzanMetaObject::GetThumbnailRotateMirror(int32_t n) const {
  const TzanMetaObject* owner = FindThumbnailOwner(n);
  return owner != nullptr ? owner->FThumbnailRotateMirror : 0;
}

void TzanMetaObject::SetOwner(TzanMetaObject* value) {
  if (value == FOwner) return;
  if (FOwner != nullptr) {
    auto& items = FOwner->FItems;
    const auto it = std::find(items.begin(), items.end(), this);
    if (it != items.end()) items.erase(it);
    FOwner->FChanged = true;
  }
  FOwner = value;
  if (FOwner != nullptr) {
    FOwner->FItems.push_back(this);
    FOwner->FChanged = true;
  }
}

int32_t TzanMetaObject::Index() const { return FOwner != nullptr ? FOwner->IndexOf(this) : -1; }

void TzanMetaObject::SetIndex(int32_t value) {
  if (FOwner == nullptr) return;
  const int32_t current = Index();
  if (current == value || current < 0) return;
  auto& items = FOwner->FItems;
  if (value < 0 || value >= static_cast<int32_t>(items.size()))
    throw Exception("List index out of bounds (" + std::to_string(value) + ")");
  items.erase(items.begin() + current);
  items.insert(items.begin() + value, this);
}

std::string TzanMetaObject::FullName() const {
  if (FOwner == nullptr) return Name();
  return FOwner->FullName() + "." + Name();
}

TSize TzanMetaObject::DefThumbnailSize() const {
  if (FDefThumbnailSize.cx != 0 && FDefThumbnailSize.cy != 0) return FDefThumbnailSize;
  if (FOwner != nullptr) return FOwner->DefThumbnailSize();
  return {};
}

TzanMemoryStream& TzanMetaObject::ThumbnailStream() {
  if (!FThumbnailStream) FThumbnailStream = std::make_unique<TzanMemoryStream>();
  return *FThumbnailStream;
}

// ---- class descriptors -------------------------------------------------------------

bool TzanMetaFileSegmentClass::IsSegment(TStream&) const { return false; }

std::string TzanMetaFileClass::GetDetectString() const { return SignatureToDetectString(0, GetSignature()); }

bool TzanMetaFileClass::IsFile(TStream& AStream) const {
  const std::string signature = GetSignature();
  if (signature.empty()) return false;
  std::string bytes(signature.size(), '\0');
  AStream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return bytes == signature;
}

void TzanMetaFileClass::FillMetaSegmentClassList(std::vector<const TzanMetaFileSegmentClass*>&) const {}

// ---- TzanMetaFileSegment ---------------------------------------------------------------

TzanMetaFileSegment::TzanMetaFileSegment(TzanMetaObject* AOwner) : TzanMetaObject(AOwner) {}

void TzanMetaFileSegment::Clear() {
  TzanMetaObject::Clear();
  FExtra.Clear();
}

bool TzanMetaFileSegment::GetChanged() const { return FExtra.Changed() || TzanMetaObject::GetChanged(); }

void TzanMetaFileSegment::SetChanged(bool value) {
  TzanMetaObject::SetChanged(value);
  FExtra.SetChanged(value);
}

void TzanMetaFileSegment::BeforeDestruction() { Notify(this, moeDestroy, 0); }

void TzanMetaFileSegment::PostLoadFromStream(int64_t, TStream&) {}

void TzanMetaFileSegment::DoLoadFromStream(TStream&) {}

void TzanMetaFileSegment::LoadFromStream(TStream& AStream) {
  Clear();
  DoLoadFromStream(AStream);
}

void TzanMetaFileSegment::LoadExtraFromStream(TStream& AStream) {
  FExtra.Clear();
  // CopyRest copies nothing (and writes nothing) at the end of the stream.
  FExtra.CopyRest(AStream);
}

void TzanMetaFileSegment::AfterConstruction() { Notify(this, moeCreate, 0); }

// ---- TzanMetaFile ---------------------------------------------------------------------------

TzanMetaFile::TzanMetaFile() : TzanMetaObject(nullptr) {}

void TzanMetaFile::Clear() {
  FFileName.clear();
  TzanMetaObject::Clear();
}

void TzanMetaFile::Notify(TzanMetaObject* AObject, TzanMetaObjectEvent AEvent, int32_t AParam) {
  if (FOnNotify != nullptr) FOnNotify->OnNotify(this, AObject, AEvent, AParam);
}

void TzanMetaFile::DoLoadFromStream(TStream&) {}

void TzanMetaFile::LoadFromStream(TStream& AStream) {
  Clear();
  DoLoadFromStream(AStream);
}

void TzanMetaFile::LoadFromFile(const std::u16string& AFileName) {
  {
    TFileStream stream(AFileName);
    LoadFromStream(stream);
  }
  FFileName = AFileName;
}

void TzanMetaFile::SetFileName(const std::u16string& value) {
  Clear();
  LoadFromFile(value);
}

void TzanMetaFile::SetOnNotify(TzanMetaFileNotifyHandler* handler) {
  if (handler == FOnNotify) return;
  // The loops re-check the count each step: a handler may change the tree.
  if (FOnNotify != nullptr) {
    for (int32_t i = ItemCount() - 1; i >= 0; --i)
      if (i < ItemCount()) FOnNotify->OnNotify(this, Items(i), moeDestroy, 0);
  }
  FOnNotify = handler;
  if (FOnNotify != nullptr) {
    for (int32_t i = 0; i < ItemCount(); ++i) FOnNotify->OnNotify(this, Items(i), moeCreate, 0);
  }
}

// ---- registry -------------------------------------------------------------------------------

std::vector<const TzanMetaFileClass*>& MetaFileClassRegistry() {
  static std::vector<const TzanMetaFileClass*> registry;
  return registry;
}

void RegisterMetaFileClass(const TzanMetaFileClass& AClass) { MetaFileClassRegistry().push_back(&AClass); }

void GetMetaFileClassList(std::vector<const TzanMetaFileClass*>& AList) {
  const auto& registry = MetaFileClassRegistry();
  AList.insert(AList.end(), registry.begin(), registry.end());
}

const TzanMetaFileClass* FindMetaFileClass(TStream& AStream) {
  const auto& registry = MetaFileClassRegistry();
  if (registry.empty()) return nullptr;
  const int64_t start = AStream.Position();
  const TzanMetaFileClass* found = nullptr;
  // The class registered last is asked first.
  for (auto it = registry.rbegin(); it != registry.rend() && found == nullptr; ++it) {
    AStream.SetPosition(start);
    try {
      if ((*it)->IsFile(AStream)) found = *it;
    } catch (...) {
      // A class that cannot read the stream does not recognise it.
    }
  }
  AStream.SetPosition(start);
  return found;
}

std::string SignatureToDetectString(int32_t AOffset, const std::string& ABytes) {
  std::string result;
  for (size_t i = 0; i < ABytes.size(); ++i) {
    const auto b = static_cast<uint8_t>(ABytes[i]);
    if (i > 0) result += '&';
    result += '[';
    result += std::to_string(static_cast<int64_t>(AOffset) + static_cast<int64_t>(i));
    result += "]=";
    if (b >= 32 && b <= 127) {
      result += '"';
      result += static_cast<char>(b);
      result += '"';
    } else {
      result += std::to_string(b);
    }
  }
  return result;
}

}  // namespace zan
