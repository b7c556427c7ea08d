// The tree of parsed nodes every format builds, the thumbnail protocol its
// nodes share, file and segment base classes, class descriptors (class
// references with class-level operations and a virtual constructor) and the
// process-wide registry of file classes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/bitmap32.h"
#include "platform/stream.h"

namespace zan {

// The framework's exception: a message only.
class EzanMetaException : public Exception {
 public:
  using Exception::Exception;
};

// A memory stream that remembers whether it was written to or resized.
class TzanMemoryStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  int64_t Write(const void* buffer, int64_t count) override;
  void SetSize(int64_t size) override;
  bool Changed() const { return FChanged; }
  void SetChanged(bool value) { FChanged = value; }

 private:
  bool FChanged = false;
};

enum TzanMetaObjectEvent : int32_t { moeCreate = 0, moeDestroy = 1, moeMove = 2 };

struct TSize {
  int32_t cx = 0;
  int32_t cy = 0;
  bool operator==(const TSize&) const = default;
};

class TzanMetaObject {
 public:
  explicit TzanMetaObject(TzanMetaObject* AOwner);
  // Frees the subtree and the thumbnail, then detaches from the owner.
  virtual ~TzanMetaObject();
  TzanMetaObject(const TzanMetaObject&) = delete;
  TzanMetaObject& operator=(const TzanMetaObject&) = delete;

  // The name of the node's class (what "the class name" means for a node).
  virtual const char* ClassName() const { return "TzanMetaObject"; }

  // Virtual slots, in order.
  virtual void Clear();
  virtual void Notify(TzanMetaObject* AObject, TzanMetaObjectEvent AEvent, int32_t AParam);
  virtual std::string GetName() const;
  virtual std::string GetValue() const;
  virtual int32_t GetThumbnailCount() const;
  virtual const uint8_t* GetThumbnailData(int32_t n) const;
  virtual uint32_t GetThumbnailDataSize(int32_t n) const;
  virtual TSize GetThumbnailSize(int32_t n) const;
  virtual const Bitmap32* GetThumbnail(int32_t n);
  virtual bool GetChanged() const;
  virtual void SetChanged(bool value);

  // Called just before the node is freed by its owner (see Free).
  virtual void BeforeDestruction() {}
  // Frees a node the way an owner does: BeforeDestruction, then delete.
  static void Free(TzanMetaObject* node);

  void ClearThumbnail();
  int32_t IndexOf(const TzanMetaObject* child) const;
  void Change() { FChanged = true; }
  bool HasOwnThumbnail() const;
  const TzanMetaObject* FindThumbnailOwner(int32_t n) const;
  TzanMetaObject* FindThumbnailOwner(int32_t n);
  int32_t GetThumbnailRotateMirror(int32_t n) const;

  TzanMetaObject* Owner() const { return FOwner; }
  void SetOwner(TzanMetaObject* value);
  int32_t ItemCount() const { return static_cast<int32_t>(FItems.size()); }
  TzanMetaObject* Items(int32_t i) const { return FItems.at(static_cast<size_t>(i)); }
  int32_t Index() const;
  void SetIndex(int32_t value);
  std::string Name() const { return GetName(); }
  std::string FullName() const;
  std::string Value() const { return GetValue(); }
  TSize DefThumbnailSize() const;
  void SetDefThumbnailSize(TSize value) { FDefThumbnailSize = value; }
  int32_t ThumbnailCount() const { return GetThumbnailCount(); }
  bool Changed() const { return GetChanged(); }

  // The node's own preview: subclasses create the stream, fill it and set
  // the orientation code while they parse.
  std::unique_ptr<TzanMemoryStream> FThumbnailStream;
  std::unique_ptr<Bitmap32> FThumbnailHandle;
  int32_t FThumbnailRotateMirror = 0;

  // Creates FThumbnailStream when missing and returns it.
  TzanMemoryStream& ThumbnailStream();

 protected:
  TzanMetaObject* FOwner = nullptr;
  std::vector<TzanMetaObject*> FItems;  // owned
  bool FChanged = false;
  TSize FDefThumbnailSize;
};

class TzanMetaFile;
class TzanMetaFileSegment;

// ---- class descriptors -----------------------------------------------------

// A segment class used as a value: its class-level operations and factory.
class TzanMetaFileSegmentClass {
 public:
  virtual ~TzanMetaFileSegmentClass() = default;
  virtual const char* ClassName() const = 0;
  virtual std::string GetAboutName() const { return ClassName(); }
  virtual bool IsInfoSegment() const { return true; }
  virtual bool IsKnownSegment() const { return true; }
  // Does the stream at its position hold a segment of this class?
  virtual bool IsSegment(TStream& AStream) const;
  // The virtual constructor: a new segment attached to AOwner, announced
  // through Notify (moeCreate).
  virtual TzanMetaFileSegment* Create(TzanMetaObject* AOwner) const = 0;
};

// A file class used as a value.
class TzanMetaFileClass {
 public:
  virtual ~TzanMetaFileClass() = default;
  virtual const char* ClassName() const = 0;
  virtual std::string GetFileType() const { return ClassName(); }
  // The bytes that start such a file (may hold any byte values).
  virtual std::string GetSignature() const { return {}; }
  virtual std::string GetDetectString() const;
  // Base: the signature test (reads the signature's length; a short stream
  // raises; the position is left after the bytes read).
  virtual bool IsFile(TStream& AStream) const;
  virtual void FillMetaSegmentClassList(std::vector<const TzanMetaFileSegmentClass*>& AList) const;
  // The virtual constructor: a new root file object.
  virtual std::unique_ptr<TzanMetaFile> Create() const = 0;
};

// ---- segments ----------------------------------------------------------------

class TzanMetaFileSegment : public TzanMetaObject {
 public:
  explicit TzanMetaFileSegment(TzanMetaObject* AOwner);
  const char* ClassName() const override { return GetClass().ClassName(); }
  virtual const TzanMetaFileSegmentClass& GetClass() const = 0;

  void Clear() override;
  bool GetChanged() const override;
  void SetChanged(bool value) override;
  void BeforeDestruction() override;

  virtual void PostLoadFromStream(int64_t AStart, TStream& AStream);
  virtual void DoLoadFromStream(TStream& AStream);

  void LoadFromStream(TStream& AStream);
  void LoadExtraFromStream(TStream& AStream);
  // Sends Notify (this, moeCreate, 0); the factories call it once the
  // object is complete.
  void AfterConstruction();

  int64_t FStreamOffset = 0;
  TzanMemoryStream FExtra;
};

// Factory helper: the usual descriptor of a segment class T. Formats derive
// from Base to add their own class-level operations.
template <class T, class Base = TzanMetaFileSegmentClass>
class TSegmentClassOf : public Base {
 public:
  TzanMetaFileSegment* Create(TzanMetaObject* AOwner) const override {
    auto* s = new T(AOwner);
    s->AfterConstruction();
    return s;
  }
};

// ---- files ---------------------------------------------------------------------

class TzanMetaFileNotifyHandler {
 public:
  virtual ~TzanMetaFileNotifyHandler() = default;
  virtual void OnNotify(TzanMetaFile* AFile, TzanMetaObject* AObject, TzanMetaObjectEvent AEvent,
                        int32_t AParam) = 0;
};

class TzanMetaFile : public TzanMetaObject {
 public:
  TzanMetaFile();
  const char* ClassName() const override { return GetClass().ClassName(); }
  virtual const TzanMetaFileClass& GetClass() const = 0;

  void Clear() override;
  void Notify(TzanMetaObject* AObject, TzanMetaObjectEvent AEvent, int32_t AParam) override;
  virtual void DoLoadFromStream(TStream& AStream);

  void LoadFromStream(TStream& AStream);
  void LoadFromFile(const std::u16string& AFileName);
  const std::u16string& FileName() const { return FFileName; }
  void SetFileName(const std::u16string& value);
  int32_t SegmentCount() const { return ItemCount(); }
  TzanMetaObject* Segments(int32_t i) const { return Items(i); }

  TzanMetaFileNotifyHandler* OnNotify() const { return FOnNotify; }
  void SetOnNotify(TzanMetaFileNotifyHandler* handler);

 protected:
  TzanMetaFileNotifyHandler* FOnNotify = nullptr;
  std::u16string FFileName;
};

// Factory helper: the usual descriptor of a file class T.
template <class T, class Base = TzanMetaFileClass>
class TFileClassOf : public Base {
 public:
  std::unique_ptr<TzanMetaFile> Create() const override { return std::make_unique<T>(); }
};

// ---- registry ----------------------------------------------------------------

void RegisterMetaFileClass(const TzanMetaFileClass& AClass);
void GetMetaFileClassList(std::vector<const TzanMetaFileClass*>& AList);
// The class that recognises the stream, asked from the last registered to
// the first; the stream position is restored.
const TzanMetaFileClass* FindMetaFileClass(TStream& AStream);
// The registry itself, for tests that need a controlled set of classes.
std::vector<const TzanMetaFileClass*>& MetaFileClassRegistry();

// "[offset]=value" terms joined by "&".
std::string SignatureToDetectString(int32_t AOffset, const std::string& ABytes);

// ---- sniffers ------------------------------------------------------------------

// "bmp", "jpg", "ico", "cur", "gif", "png", "wmf", "" or "dat" (short stream).
std::string GetGraphicFileType(TStream& AStream);
// Pixel size of a BMP or JPEG from its first bytes; (0, 0) otherwise.
TSize GetGraphicPixelSize(TStream& AStream, int32_t* ABits = nullptr);

}  // namespace zan
