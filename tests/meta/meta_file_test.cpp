// File and segment base classes, their notifications, the file-class
// registry and the detect terms built from signatures.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "meta/meta.h"
#include "platform/system.h"
#include "support/fixtures.h"

namespace zan {
namespace {

// ---- test classes --------------------------------------------------------------------

class TTestSegment : public TzanMetaFileSegment {
 public:
  using TzanMetaFileSegment::TzanMetaFileSegment;
  const TzanMetaFileSegmentClass& GetClass() const override;
  // Parses its data: the rest of the stream is kept as extra bytes.
  void DoLoadFromStream(TStream& AStream) override { LoadExtraFromStream(AStream); }
};

class TTestSegmentClass : public TSegmentClassOf<TTestSegment> {
 public:
  const char* ClassName() const override { return "TTestSegment"; }
};
const TTestSegmentClass kTestSegmentClass;
const TzanMetaFileSegmentClass& TTestSegment::GetClass() const { return kTestSegmentClass; }

// A file of one-byte records: each record becomes a segment.
class TTestFile : public TzanMetaFile {
 public:
  const TzanMetaFileClass& GetClass() const override;
  void DoLoadFromStream(TStream& AStream) override {
    uint8_t b;
    while (AStream.Read(&b, 1) == 1) {
      TzanMetaFileSegment* s = kTestSegmentClass.Create(this);
      s->FStreamOffset = AStream.Position() - 1;
      s->ThumbnailStream().WriteBuffer(&b, 1);
    }
  }
};

class TTestFileClass : public TFileClassOf<TTestFile> {
 public:
  const char* ClassName() const override { return "TTestFile"; }
};
const TTestFileClass kTestFileClass;
const TzanMetaFileClass& TTestFile::GetClass() const { return kTestFileClass; }

// A file class recognising a given signature; it records where it was asked.
class TSigClass : public TFileClassOf<TTestFile> {
 public:
  TSigClass(const char* name, std::string sig, std::vector<std::pair<std::string, int64_t>>* log = nullptr)
      : name_(name), sig_(std::move(sig)), log_(log) {}
  const char* ClassName() const override { return name_; }
  std::string GetSignature() const override { return sig_; }
  bool IsFile(TStream& AStream) const override {
    if (log_ != nullptr) log_->emplace_back(name_, AStream.Position());
    return TzanMetaFileClass::IsFile(AStream);
  }

 private:
  const char* name_;
  std::string sig_;
  std::vector<std::pair<std::string, int64_t>>* log_;
};

// A class whose test always raises after moving the stream.
class TRaisingClass : public TFileClassOf<TTestFile> {
 public:
  explicit TRaisingClass(std::vector<std::pair<std::string, int64_t>>* log) : log_(log) {}
  const char* ClassName() const override { return "TRaising"; }
  bool IsFile(TStream& AStream) const override {
    log_->emplace_back("TRaising", AStream.Position());
    AStream.Skip(3);
    throw EzanMetaException("broken");
  }

 private:
  std::vector<std::pair<std::string, int64_t>>* log_;
};

using Event = std::tuple<const TzanMetaFile*, const TzanMetaObject*, TzanMetaObjectEvent, int32_t>;

class TRecorder : public TzanMetaFileNotifyHandler {
 public:
  void OnNotify(TzanMetaFile* AFile, TzanMetaObject* AObject, TzanMetaObjectEvent AEvent, int32_t AParam) override {
    events.emplace_back(AFile, AObject, AEvent, AParam);
  }
  std::vector<Event> events;
};

// Replaces the process-wide registry for one test and puts it back after.
class MetaRegistry : public ::testing::Test {
 protected:
  void SetUp() override { saved_.swap(MetaFileClassRegistry()); }
  void TearDown() override { saved_.swap(MetaFileClassRegistry()); }

 private:
  std::vector<const TzanMetaFileClass*> saved_;
};

// ---- segments ---------------------------------------------------------------------------

TEST(MetaFileSegment, ExtraBytesAreTheRestOfTheStream) {
  TMemoryStream src("0123456789", 10);
  auto file = kTestFileClass.Create();
  TzanMetaFileSegment* seg = kTestSegmentClass.Create(file.get());
  EXPECT_EQ(seg->ClassName(), std::string("TTestSegment"));
  EXPECT_EQ(seg->GetClass().GetAboutName(), "TTestSegment");
  EXPECT_TRUE(seg->GetClass().IsInfoSegment());
  EXPECT_TRUE(seg->GetClass().IsKnownSegment());
  EXPECT_FALSE(seg->GetClass().IsSegment(src));

  src.SetPosition(6);
  seg->LoadFromStream(src);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(seg->FExtra.Memory()), 4), "6789");

  // At the end there is nothing to copy: the extra bytes are emptied.
  seg->LoadExtraFromStream(src);
  EXPECT_EQ(seg->FExtra.GetSize(), 0);
}

TEST(MetaFileSegment, ExtraTakesPartInChanged) {
  auto file = kTestFileClass.Create();
  TzanMetaFileSegment* seg = kTestSegmentClass.Create(file.get());
  file->SetChanged(false);
  EXPECT_FALSE(seg->FExtra.Changed());
  EXPECT_FALSE(file->Changed());

  seg->FExtra.WriteBuffer("x", 1);
  EXPECT_TRUE(file->Changed());

  file->SetChanged(false);
  EXPECT_FALSE(seg->FExtra.Changed());
  file->SetChanged(true);
  EXPECT_TRUE(seg->FExtra.Changed());

  seg->SetChanged(false);
  seg->Clear();  // emptying the extra bytes is not a change
  EXPECT_FALSE(seg->Changed());
}

// ---- files and notifications ---------------------------------------------------------------

TEST(MetaFile, SegmentsAnnounceCreationAndDestruction) {
  TRecorder rec;
  auto file = kTestFileClass.Create();
  file->SetOnNotify(&rec);
  TMemoryStream src("ab", 2);
  file->LoadFromStream(src);
  ASSERT_EQ(file->SegmentCount(), 2);
  const TzanMetaObject* s0 = file->Segments(0);
  const TzanMetaObject* s1 = file->Segments(1);
  EXPECT_EQ(s1->FullName(), "TTestFile.TTestSegment");
  EXPECT_EQ(static_cast<const TzanMetaFileSegment*>(s1)->FStreamOffset, 1);
  EXPECT_EQ(rec.events, (std::vector<Event>{{file.get(), s0, moeCreate, 0}, {file.get(), s1, moeCreate, 0}}));

  // A nested node's notification travels up to the file; so does a
  // segment's destruction.
  rec.events.clear();
  TzanMetaFileSegment* nested = kTestSegmentClass.Create(file->Segments(0));
  TzanMetaObject::Free(nested);
  file->Clear();
  EXPECT_EQ(rec.events, (std::vector<Event>{{file.get(), nested, moeCreate, 0},
                                            {file.get(), nested, moeDestroy, 0},
                                            {file.get(), s1, moeDestroy, 0},
                                            {file.get(), s0, moeDestroy, 0}}));
  file->SetOnNotify(nullptr);
}

TEST(MetaFile, ReplacingTheHandlerReplaysTheSegments) {
  auto file = kTestFileClass.Create();
  TMemoryStream src("abc", 3);
  file->LoadFromStream(src);
  const TzanMetaFile* f = file.get();
  const TzanMetaObject* s[] = {file->Segments(0), file->Segments(1), file->Segments(2)};

  TRecorder first, second;
  file->SetOnNotify(&first);
  EXPECT_EQ(first.events,
            (std::vector<Event>{{f, s[0], moeCreate, 0}, {f, s[1], moeCreate, 0}, {f, s[2], moeCreate, 0}}));

  first.events.clear();
  file->SetOnNotify(&first);  // the same handler: nothing
  EXPECT_TRUE(first.events.empty());

  file->SetOnNotify(&second);
  EXPECT_EQ(first.events,
            (std::vector<Event>{{f, s[2], moeDestroy, 0}, {f, s[1], moeDestroy, 0}, {f, s[0], moeDestroy, 0}}));
  EXPECT_EQ(second.events,
            (std::vector<Event>{{f, s[0], moeCreate, 0}, {f, s[1], moeCreate, 0}, {f, s[2], moeCreate, 0}}));

  second.events.clear();
  file->SetOnNotify(nullptr);
  EXPECT_EQ(second.events.size(), 3u);
  EXPECT_EQ(file->OnNotify(), nullptr);
}

TEST(MetaFile, LoadFromFileRemembersTheName) {
  test::TempDir dir;
  const std::u16string name = Utf8ToUtf16(dir.Write("three.bin", {7, 8, 9}));
  auto file = kTestFileClass.Create();
  file->LoadFromFile(name);
  EXPECT_EQ(file->FileName(), name);
  EXPECT_EQ(file->SegmentCount(), 3);
  EXPECT_EQ(file->ThumbnailCount(), 3);
  EXPECT_EQ(*file->GetThumbnailData(2), 9);

  // Setting the name loads again from scratch.
  file->SetFileName(name);
  EXPECT_EQ(file->SegmentCount(), 3);

  file->Clear();
  EXPECT_TRUE(file->FileName().empty());
  EXPECT_EQ(file->SegmentCount(), 0);

  // A missing file raises and keeps no name.
  EXPECT_THROW(file->LoadFromFile(Utf8ToUtf16(dir.Path("missing.bin"))), EFOpenError);
  EXPECT_TRUE(file->FileName().empty());
}

// ---- class-level operations ---------------------------------------------------------------

TEST(MetaFileClass, BaseAnswersComeFromTheSignature) {
  EXPECT_EQ(kTestFileClass.GetFileType(), "TTestFile");
  EXPECT_EQ(kTestFileClass.GetDetectString(), "");
  std::vector<const TzanMetaFileSegmentClass*> list;
  kTestFileClass.FillMetaSegmentClassList(list);
  EXPECT_TRUE(list.empty());

  TMemoryStream any("anything", 8);
  EXPECT_FALSE(kTestFileClass.IsFile(any));  // no signature: never

  const TSigClass sig("TSig", std::string("\x89PN", 3));
  EXPECT_EQ(sig.GetDetectString(), "[0]=137&[1]=\"P\"&[2]=\"N\"");
  TMemoryStream match("\x89PNG", 4);
  EXPECT_TRUE(sig.IsFile(match));
  EXPECT_EQ(match.Position(), 3);  // left after the bytes read
  TMemoryStream other("\x89PX", 3);
  EXPECT_FALSE(sig.IsFile(other));
  TMemoryStream shorter("\x89P", 2);
  EXPECT_THROW(sig.IsFile(shorter), EReadError);
}

TEST(MetaFileClass, SignatureToDetectString) {
  const struct {
    int32_t offset;
    std::string bytes;
    std::string expected;
  } cases[] = {
      {0, std::string("\0\0\1\0", 4), "[0]=0&[1]=0&[2]=1&[3]=0"},
      {40, " EMF", "[40]=\" \"&[41]=\"E\"&[42]=\"M\"&[43]=\"F\""},
      {5, "I", "[5]=\"I\""},
      {0, "\xFF", "[0]=255"},
      {0, "\x1F\x7F\x80", "[0]=31&[1]=\"\x7F\"&[2]=128"},  // the bounds of the quoted range
      {7, "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(SignatureToDetectString(c.offset, c.bytes), c.expected) << c.expected;
}

// ---- registry ----------------------------------------------------------------------------

TEST_F(MetaRegistry, EmptyRegistryFindsNothing) {
  TMemoryStream s("BM123", 5);
  s.SetPosition(2);
  EXPECT_EQ(FindMetaFileClass(s), nullptr);
  EXPECT_EQ(s.Position(), 2);
  std::vector<const TzanMetaFileClass*> list;
  GetMetaFileClassList(list);
  EXPECT_TRUE(list.empty());
}

TEST_F(MetaRegistry, LaterClassesAreAskedFirst) {
  std::vector<std::pair<std::string, int64_t>> log;
  const TSigClass first("TFirst", "AB", &log);
  const TSigClass second("TSecond", "ABC", &log);
  const TSigClass other("TOther", "XYZ", &log);
  RegisterMetaFileClass(first);
  RegisterMetaFileClass(second);
  RegisterMetaFileClass(other);

  std::vector<const TzanMetaFileClass*> list{&kTestFileClass};
  GetMetaFileClassList(list);  // appended, in registration order
  EXPECT_EQ(list, (std::vector<const TzanMetaFileClass*>{&kTestFileClass, &first, &second, &other}));

  TMemoryStream s("..ABCD", 6);
  s.SetPosition(2);
  EXPECT_EQ(FindMetaFileClass(s), &second);  // both match: the later one wins
  EXPECT_EQ(s.Position(), 2);
  EXPECT_EQ(log, (std::vector<std::pair<std::string, int64_t>>{{"TOther", 2}, {"TSecond", 2}}));

  TMemoryStream none("..ABXX", 6);
  none.SetPosition(2);
  log.clear();
  EXPECT_EQ(FindMetaFileClass(none), &first);
  EXPECT_EQ(none.Position(), 2);
}

TEST_F(MetaRegistry, RaisingClassesAreSkippedAtTheSamePosition) {
  std::vector<std::pair<std::string, int64_t>> log;
  const TSigClass jpeg("TJpeg", "\xFF\xD8\xFF", &log);
  const TSigClass longSig("TLong", "\xFF\xD8\xFF\xE1 this is long", &log);
  const TRaisingClass raising(&log);
  RegisterMetaFileClass(jpeg);
  RegisterMetaFileClass(longSig);  // raises: the stream is shorter than its signature
  RegisterMetaFileClass(raising);

  TMemoryStream s("\0\xFF\xD8\xFF\xE0", 5);
  s.SetPosition(1);
  EXPECT_EQ(FindMetaFileClass(s), &jpeg);
  EXPECT_EQ(s.Position(), 1);
  EXPECT_EQ(log, (std::vector<std::pair<std::string, int64_t>>{{"TRaising", 1}, {"TLong", 1}, {"TJpeg", 1}}));

  // Nobody recognises it: none, and still the same position.
  TMemoryStream junk("\0junk", 5);
  junk.SetPosition(1);
  EXPECT_EQ(FindMetaFileClass(junk), nullptr);
  EXPECT_EQ(junk.Position(), 1);
}

}  // namespace
}  // namespace zan
