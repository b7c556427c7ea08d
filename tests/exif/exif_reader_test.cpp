// The TIFF directory reader: byte orders, values, the directory chain and
// its loop check, entry classes, offset entries, and hostile structures.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "exif/exif.h"
#include "exif/tiff_builder.h"
#include "platform/system.h"

namespace zan {
namespace {

using test::TiffBuilder;

// A structure read with plain directories, from a copy of the bytes.
struct Parsed {
  explicit Parsed(const std::vector<uint8_t>& bytes) : stream(bytes.data(), bytes.size()) {
    try {
      exif.LoadFromStream(stream, 0);
    } catch (const Exception& e) {
      error = e.what();
    }
  }
  TzanExifCustomIFD& ifd(int i) { return *exif.GetIFD(i); }
  TzanExifData& value(int ifdIndex, TzanExifTag tag) { return ifd(ifdIndex).GetEntryByTag(tag, false)->Data(); }

  TMemoryStream stream;
  TzanExif exif{ExifCustomIFDClass(), nullptr};
  std::string error;  // what ended the chain, if anything raised
};

class ExifReaderByteOrder : public ::testing::TestWithParam<bool> {};

TEST_P(ExifReaderByteOrder, ValuesReadAlikeInBothOrders) {
  TiffBuilder b(GetParam());
  // SSHORT -2 left-aligned in the value field; DOUBLE -1.5 (0xBFF8000000000000).
  std::vector<uint8_t> minusTwo, minusOneAndAHalf;
  b.Put16(minusTwo, 0xFFFE);
  b.Put32(minusOneAndAHalf, GetParam() ? 0xBFF80000u : 0u);
  b.Put32(minusOneAndAHalf, GetParam() ? 0u : 0xBFF80000u);
  b.AddIfd().entries = {b.Bytes(1, kExifByte, {1, 2, 3}),
                        b.Short(2, {258}),
                        b.Short(3, {1, 2, 3}),  // 6 bytes: stored at an offset
                        b.Long(4, {0xFFFFFFFFu}),
                        b.Rational(5, {{7, 2}, {5, 2}, {1, 3}, {4, 0}}),
                        b.Rational(6, {{uint32_t(-7), 2}}, kExifSRational),
                        b.Raw(7, kExifSShort, 1, minusTwo),
                        b.Ascii(8, "Hello"),
                        b.Long(9, {0x40200000}, kExifFloat),  // 2.5
                        b.Raw(10, kExifDouble, 1, minusOneAndAHalf),
                        b.Raw(11, kExifShort, 1, {1, 2})};
  Parsed p(b.Build());
  ASSERT_EQ(p.exif.IFDCount(), 1);
  ASSERT_EQ(p.ifd(0).EntryCount(), 11);
  EXPECT_EQ(p.exif.SwapBytes(), GetParam());

  EXPECT_EQ(p.value(0, 1).AsString(), "1 2 3") << "bytes keep their order";
  EXPECT_EQ(p.value(0, 2).AsInteger(), 258);
  EXPECT_EQ(p.value(0, 3).AsString(), "1 2 3");
  EXPECT_EQ(p.ifd(0).GetEntryByTag(3, false)->FOffset % 2, 0u) << "read from its offset";
  EXPECT_EQ(p.value(0, 4).AsInteger(), -1) << "a LONG with all bits set";
  TzanExifData& rational = p.value(0, 5);
  EXPECT_EQ(rational.GetItemAsInteger(0), 4) << "7/2 rounds half to even";
  EXPECT_EQ(rational.GetItemAsInteger(1), 2) << "5/2 rounds half to even";
  if (LocaleDecimalSeparator() == '.') {
    EXPECT_EQ(rational.GetItemAsString(2), "0.33 (1/3)");
  }
  EXPECT_EQ(rational.GetItemAsString(3), "? (4/0)");
  EXPECT_THROW(rational.GetItemAsInteger(3), EzanExifException) << "a zero denominator";
  EXPECT_EQ(p.value(0, 6).AsInteger(), -4);
  EXPECT_EQ(p.value(0, 7).AsInteger(), -2);
  EXPECT_EQ(p.value(0, 8).AsString(), "Hello") << "the trailing zero byte is not part of the text";
  EXPECT_EQ(p.value(0, 9).AsInteger(), 2) << "2.5 rounds half to even";
  EXPECT_EQ(p.value(0, 10).AsInteger(), -2);
  // The same two stored bytes 01 02 as a SHORT.
  EXPECT_EQ(p.value(0, 11).AsInteger(), GetParam() ? 258 : 513);
}

INSTANTIATE_TEST_SUITE_P(Exif, ExifReaderByteOrder, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? std::string("MM") : std::string("II"); });

TEST(ExifReader, IsExifLooksAtTheHeaderAndRestoresThePosition) {
  struct Case {
    std::vector<uint8_t> bytes;
    bool expected;
  } cases[] = {{{'I', 'I', 42, 0}, true},  {{'M', 'M', 0, 42}, true},    {{'I', 'I', 0, 42}, false},
               {{'M', 'M', 42, 0}, false}, {{'I', 'M', 42, 0}, false}, {{'I', 'I', 42}, false}};
  for (const Case& c : cases) {
    TMemoryStream s(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(TzanExif::IsExif(s), c.expected) << testing::PrintToString(c.bytes);
    EXPECT_EQ(s.Position(), 0);
  }
}

TEST(ExifReader, ChainEndsAtZeroLinksLoopsAndLinksBelowEight) {
  {
    TiffBuilder b(false);
    EXPECT_EQ(Parsed(b.Build()).exif.IFDCount(), 0) << "IFD0 link 0";
  }
  {
    TiffBuilder b(false);
    b.SetFirstLink(7);
    b.AddIfd();
    EXPECT_EQ(Parsed(b.Build()).exif.IFDCount(), 0) << "IFD0 link below 8";
  }
  {
    TiffBuilder b(false);
    b.AddIfd();
    b.AddIfd().next = 0;  // IFD1 points back to IFD0
    Parsed p(b.Build());
    EXPECT_EQ(p.exif.IFDCount(), 2);
    EXPECT_TRUE(p.error.empty());
  }
  {
    TiffBuilder b(true);
    b.AddIfd().next = 0;  // IFD0 points to itself
    Parsed p(b.Build());
    EXPECT_EQ(p.exif.IFDCount(), 1);
    EXPECT_EQ(p.exif.GetIFD(0)->Name(), "IFD0");
  }
}

TEST(ExifReader, LinksAreTestedAsStoredBeforeTheByteOrderIsApplied) {
  // 2^24 stored big-endian is 01 00 00 00: read least significant first
  // that is 1, which ends the chain. Little-endian it is a real (bad) link.
  for (bool be : {true, false}) {
    TiffBuilder b(be);
    b.AddIfd().entries = {b.Short(1, {1})};
    b.ifd(0).next = TiffBuilder::kRawLink;
    b.ifd(0).rawLink = 0x01000000;
    Parsed p(b.Build());
    EXPECT_EQ(p.exif.IFDCount(), be ? 1 : 2);
    EXPECT_EQ(p.error.empty(), be) << "a directory past the end ends the chain with a read error";
    EXPECT_EQ(p.ifd(0).EntryCount(), 1) << "the directories read before stay";
  }
}

TEST(ExifReader, LongChainsAreReadWhole) {
  TiffBuilder b(false);
  for (int i = 0; i < 1000; ++i) b.AddIfd();
  EXPECT_EQ(Parsed(b.Build()).exif.IFDCount(), 1000);
}

TEST(ExifReader, EntryCountsOfSixMayBeFollowedByTwoZeroBytes) {
  // Six entries written after a 32-bit count: 06 00 00 00.
  TiffBuilder b(false);
  auto& d = b.AddIfd();
  for (uint16_t t = 1; t <= 6; ++t) d.entries.push_back(b.Short(t, {t}));
  std::vector<uint8_t> bytes = b.Build();
  std::vector<uint8_t> padded(bytes.begin(), bytes.begin() + 10);
  padded.insert(padded.end(), {0, 0});
  padded.insert(padded.end(), bytes.begin() + 10, bytes.end());
  Parsed p(padded);
  ASSERT_EQ(p.exif.IFDCount(), 1);
  ASSERT_EQ(p.ifd(0).EntryCount(), 6);
  EXPECT_EQ(p.value(0, 6).AsInteger(), 6);
  // Without the padding the first entry's tag follows the count directly.
  Parsed q(bytes);
  ASSERT_EQ(q.ifd(0).EntryCount(), 6);
  EXPECT_EQ(q.value(0, 1).AsInteger(), 1);
}

TEST(ExifReader, MoreThan255EntriesEndTheChain) {
  for (int n : {255, 256}) {
    TiffBuilder b(false);
    auto& d = b.AddIfd();
    for (int t = 0; t < 255; ++t) d.entries.push_back(b.Short(static_cast<uint16_t>(t + 1), {1}));
    d.rawCount = static_cast<uint16_t>(n);
    b.AddIfd();
    Parsed p(b.Build());
    if (n == 255) {
      EXPECT_EQ(p.exif.IFDCount(), 2);
      EXPECT_EQ(p.ifd(0).EntryCount(), 255);
    } else {
      EXPECT_EQ(p.error, "Too many tags...");
      ASSERT_EQ(p.exif.IFDCount(), 1) << "the directory stays, empty";
      EXPECT_EQ(p.ifd(0).EntryCount(), 0);
    }
  }
}

TEST(ExifReader, DamagedValuesEndOnlyTheirEntry) {
  TiffBuilder b(true);
  auto& d = b.AddIfd();
  d.entries = {b.Field(1, kExifShort, 3, 0),            // offset 0: no value
               b.Field(2, kExifLong, 2, 0x7FFFFFF0u),   // offset past the end
               b.Field(3, kExifLong, 0xFFFFFFFFu, 8),   // 16 GB claimed by a tiny file
               b.Field(4, kExifLong, 0x40000001u, 8),   // count x 4 wraps to 4 in 32 bits
               b.Field(5, kExifByte, 8, 0xFFFFFFF0u),   // an offset near 2^32
               b.Short(6, {66})};
  const int64_t before = ExifMemoryHeld();
  Parsed p(b.Build());
  ASSERT_EQ(p.exif.IFDCount(), 1);
  TzanExifCustomIFD& ifd = p.ifd(0);
  ASSERT_EQ(ifd.EntryCount(), 6) << "each damaged entry stays, and the next one is read from its own slot";
  for (TzanExifTag tag : {1, 2, 3, 4, 5}) {
    EXPECT_EQ(ifd.GetEntryByTag(tag, false)->Data().RawSize(), 0u) << tag;
    EXPECT_EQ(ifd.GetEntryByTag(tag, false)->Data().AsInteger(), 0) << tag;
  }
  EXPECT_EQ(p.value(0, 6).AsInteger(), 66);
  EXPECT_LT(ExifMemoryHeld() - before, 64 * 1024) << "nothing was allocated for the claimed sizes";
}

TEST(ExifReader, EntriesByTagAndClass) {
  TiffBuilder b(false);
  b.AddIfd().entries = {b.Short(0x0112, {6}), b.Short(0x0112, {3})};
  Parsed p(b.Build());
  TzanExifCustomIFD& ifd = p.ifd(0);
  EXPECT_EQ(ifd.GetEntryByTag(0x0112, false)->Data().AsInteger(), 6) << "the first entry with the tag";
  EXPECT_EQ(ifd.GetEntryByTag(0x0112, false)->Name(), "Tag 0112");
  EXPECT_EQ(ifd.GetEntryByTag(0x0113, false), nullptr);
  TzanExifEntry* created = ifd.GetEntryByTag(0x0113, true);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(ifd.EntryCount(), 3);
  EXPECT_EQ(created->Data().AsInteger(), 0);
  EXPECT_EQ(ifd.IndexOfEntryClass(ExifEntryClass()), 0);
  EXPECT_FALSE(ifd.HasEntryClass(ExifOffsetEntryClass()));
}

// ---- entry classes -------------------------------------------------------------------

std::vector<std::string> g_asked;

// Takes tag 0x9000; its loading raises when told to.
template <int kId, bool kFails>
class TTestEntry : public TzanExifEntry {
 public:
  using TzanExifEntry::TzanExifEntry;
  const TzanExifEntryClass& GetClass() const override;
  void LoadFromStream(int64_t AStart, TzanExifOffsetArray& AOffsets, TStream& AStream, uint32_t ACount) override {
    TzanExifEntry::LoadFromStream(AStart, AOffsets, AStream, ACount);
    if (kFails) throw Exception("damaged");
  }
};
template <int kId, bool kFails>
class TTestEntryClass : public TExifEntryClassOf<TTestEntry<kId, kFails>> {
 public:
  const char* ClassName() const override { return kFails ? "failing" : (kId == 1 ? "first" : "second"); }
  TzanExifTag GetTag() const override { return 0x9000; }
  bool IsValid(TzanExifTag ATag, TzanExifType AType, TzanExifValueCount ACount, int64_t AStart, TStream& AStream,
               bool ASwap) const override {
    g_asked.push_back(ClassName());
    return TzanExifEntryClass::IsValid(ATag, AType, ACount, AStart, AStream, ASwap);
  }
};
const TTestEntryClass<1, false> kFirst;
const TTestEntryClass<2, false> kSecond;
const TTestEntryClass<3, true> kFailing;
template <int kId, bool kFails>
const TzanExifEntryClass& TTestEntry<kId, kFails>::GetClass() const {
  if (kFails) return kFailing;
  if (kId == 1) return kFirst;
  return kSecond;
}

std::vector<const TzanExifEntryClass*> g_classes;

// A directory class with its own list of entry classes, and an offset entry
// (tag 0x9100) whose sub-directories are of that class too.
class TTestIFD : public TzanExifCustomIFD {
 public:
  using TzanExifCustomIFD::TzanExifCustomIFD;
  const TzanExifIFDClass& GetClass() const override;
  const std::vector<const TzanExifEntryClass*>* GetEntryClasses() const override { return &g_classes; }
};
class TTestIFDClass : public TExifIFDClassOf<TTestIFD> {
 public:
  const char* ClassName() const override { return "TTestIFD"; }
};
const TTestIFDClass kTestIFDClass;
const TzanExifIFDClass& TTestIFD::GetClass() const { return kTestIFDClass; }

class TTestOffsetEntry : public TzanExifOffsetEntry {
 public:
  using TzanExifOffsetEntry::TzanExifOffsetEntry;
  const TzanExifEntryClass& GetClass() const override;
};
class TTestOffsetEntryClass : public TExifEntryClassOf<TTestOffsetEntry, TzanExifOffsetEntryClass> {
 public:
  const char* ClassName() const override { return "TTestOffsetEntry"; }
  TzanExifTag GetTag() const override { return 0x9100; }
  const TzanExifIFDClass& GetIFDClass() const override { return kTestIFDClass; }
};
const TTestOffsetEntryClass kTestOffsetEntryClass;
const TzanExifEntryClass& TTestOffsetEntry::GetClass() const { return kTestOffsetEntryClass; }

TEST(ExifReader, EntryClassesAreAskedLastRegisteredFirst) {
  g_classes = {&kFirst, &kSecond};
  g_asked.clear();
  TiffBuilder b(false);
  b.AddIfd().entries = {b.Short(0x9000, {1}), b.Short(0x8000, {2})};
  const auto bytes = b.Build();
  TMemoryStream s(bytes.data(), bytes.size());
  TzanExif exif(kTestIFDClass, nullptr);
  exif.LoadFromStream(s, 0);
  TzanExifCustomIFD& ifd = *exif.GetIFD(0);
  ASSERT_EQ(ifd.EntryCount(), 2);
  EXPECT_STREQ(ifd.GetEntry(0)->ClassName(), "second");
  EXPECT_STREQ(ifd.GetEntry(1)->ClassName(), "TzanExifEntry") << "no class takes tag 0x8000";
  EXPECT_EQ((std::vector<std::string>{"second", "second", "first"}), g_asked);
  g_classes.clear();
}

TEST(ExifReader, AnEntryWhoseLoadingRaisesStaysAndEarlierClassesAreAsked) {
  g_classes = {&kFirst, &kFailing};
  TiffBuilder b(false);
  b.AddIfd().entries = {b.Short(0x9000, {7})};
  const auto bytes = b.Build();
  TMemoryStream s(bytes.data(), bytes.size());
  TzanExif exif(kTestIFDClass, nullptr);
  exif.LoadFromStream(s, 0);
  TzanExifCustomIFD& ifd = *exif.GetIFD(0);
  ASSERT_EQ(ifd.EntryCount(), 2);
  EXPECT_STREQ(ifd.GetEntry(0)->ClassName(), "failing");
  EXPECT_EQ(ifd.GetEntry(0)->Data().AsInteger(), 7) << "keeps what it read";
  EXPECT_STREQ(ifd.GetEntry(1)->ClassName(), "first");
  g_classes.clear();
}

TEST(ExifReader, OffsetEntriesReadSubDirectoriesUnderTheSameLoopCheck) {
  g_classes = {&kTestOffsetEntryClass};
  TiffBuilder b(true);
  b.AddIfd();  // IFD0: an offset entry pointing at directory 1
  b.AddIfd().entries = {b.Short(0x0001, {5})};
  b.ifd(1).next = 0;  // the sub-chain links back to IFD0: already read
  b.ifd(0).next = TiffBuilder::kRawLink;
  b.ifd(0).entries = {b.Long(0x9100, {0})};
  b.Build();  // for the directory offsets
  b.ifd(0).entries = {b.Long(0x9100, {b.IfdOffset(1)})};
  const auto bytes = b.Build();
  TMemoryStream s(bytes.data(), bytes.size());
  TzanExif exif(kTestIFDClass, nullptr);
  exif.LoadFromStream(s, 0);
  ASSERT_EQ(exif.IFDCount(), 1);
  auto* entry = dynamic_cast<TzanExifOffsetEntry*>(exif.GetIFD(0)->GetEntry(0));
  ASSERT_NE(entry, nullptr);
  ASSERT_EQ(entry->IFDCount(), 1);
  EXPECT_STREQ(entry->GetIFD(0)->ClassName(), "TTestIFD");
  EXPECT_EQ(entry->GetIFD(0)->GetEntryByTag(1, false)->Data().AsInteger(), 5);
  g_classes.clear();
}

// ---- hostile structures -------------------------------------------------------------------

TEST(ExifReader, OverlappingDirectoriesCannotMultiplyTheFilesSize) {
  // Thousands of directories, each pointing ten entries at the same 64 KB
  // block: read naively they would hold over 2 GB.
  TiffBuilder b(false);
  const int blob = b.AddBlob(std::vector<uint8_t>(65536, 0xAB));
  for (int i = 0; i < 2000; ++i) {
    auto& d = b.AddIfd();
    for (int j = 0; j < 10; ++j) d.entries.push_back(b.BlobOffset(static_cast<uint16_t>(j + 1), blob));
    for (auto& e : d.entries) {
      e.type = kExifUndefined;
      e.count = 65536;
    }
  }
  const auto bytes = b.Build();
  const int64_t before = ExifMemoryHeld();
  {
    Parsed p(bytes);
    EXPECT_GT(p.exif.IFDCount(), 0);
    EXPECT_LE(ExifMemoryHeld() - before, ExifMemoryLimit(static_cast<int64_t>(bytes.size())));
  }
  EXPECT_EQ(ExifMemoryHeld(), before) << "freeing the structure gives everything back";
}

}  // namespace
}  // namespace zan
