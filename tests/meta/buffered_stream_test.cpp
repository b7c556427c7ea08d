// The 64 KB read-ahead stream: which bytes it delivers and, through a
// source that records every read, which reads it makes to get them.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "meta/buffered_stream.h"

namespace zan {
namespace {

struct SourceRead {
  int64_t position;
  int64_t count;
  bool operator==(const SourceRead&) const = default;
};

void PrintTo(const SourceRead& r, std::ostream* os) { *os << "{" << r.position << ", " << r.count << "}"; }

// A memory source whose byte i is (i * 7 + i / 251) mod 256; it records
// each read and can pretend to be shorter than its size says.
class TCountingStream : public TStream {
 public:
  explicit TCountingStream(int64_t size, bool* destroyed = nullptr) : size_(size), destroyed_(destroyed) {}
  ~TCountingStream() override {
    if (destroyed_ != nullptr) *destroyed_ = true;
  }
  static uint8_t ByteAt(int64_t i) { return static_cast<uint8_t>(i * 7 + i / 251); }

  int64_t Read(void* buffer, int64_t count) override {
    reads.push_back({pos_, count});
    const int64_t end = readableEnd >= 0 ? readableEnd : size_;
    const int64_t n = std::max<int64_t>(0, std::min(count, end - pos_));
    auto* out = static_cast<uint8_t*>(buffer);
    for (int64_t i = 0; i < n; ++i) out[i] = ByteAt(pos_ + i);
    pos_ += n;
    return n;
  }
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    if (origin == SeekOrigin::Begin) pos_ = offset;
    if (origin == SeekOrigin::Current) pos_ += offset;
    if (origin == SeekOrigin::End) pos_ = size_ + offset;
    return pos_;
  }
  int64_t GetSize() override { return size_; }

  std::vector<SourceRead> reads;
  int64_t readableEnd = -1;  // bytes from here on fail to read

 private:
  int64_t size_;
  int64_t pos_ = 0;
  bool* destroyed_;
};

std::vector<uint8_t> Expected(int64_t position, int64_t count) {
  std::vector<uint8_t> v(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) v[static_cast<size_t>(i)] = TCountingStream::ByteAt(position + i);
  return v;
}

// Reads count bytes at position and checks them against the source.
void ReadAt(TzanBufferedStream& s, int64_t position, int64_t count, int64_t expectedCount) {
  std::vector<uint8_t> buf(static_cast<size_t>(count), 0xCD);
  s.SetPosition(position);
  ASSERT_EQ(s.Read(buf.data(), count), expectedCount) << "at " << position;
  buf.resize(static_cast<size_t>(expectedCount));
  EXPECT_EQ(buf, Expected(position, expectedCount)) << "at " << position;
  EXPECT_EQ(s.Position(), position + expectedCount);
}

constexpr int64_t kW = TzanBufferedStream::kWindowSize;

TEST(BufferedStream, SmallSourceIsOneWindow) {
  TCountingStream src(10);
  TzanBufferedStream s(&src, false);
  EXPECT_EQ(s.Size(), 10);
  ReadAt(s, 0, 4, 4);
  EXPECT_EQ(src.reads, (std::vector<SourceRead>{{0, 10}}));
  EXPECT_EQ(s.WindowStart(), 0);
  EXPECT_EQ(s.WindowSize(), 10);

  ReadAt(s, 4, 20, 6);  // only what is left
  ReadAt(s, 10, 5, 0);  // at the end
  ReadAt(s, 2, 3, 3);
  EXPECT_EQ(src.reads.size(), 1u);  // everything from the one window
}

TEST(BufferedStream, SeekIsClampedToTheSource) {
  TCountingStream src(1000);
  TzanBufferedStream s(&src, false);
  const struct {
    int64_t offset;
    SeekOrigin origin;
    int64_t start, expected;
  } cases[] = {
      {-5, SeekOrigin::Begin, 0, 0},
      {1100, SeekOrigin::Begin, 0, 1000},
      {300, SeekOrigin::Begin, 0, 300},
      {-50, SeekOrigin::Current, 300, 250},
      {-400, SeekOrigin::Current, 300, 0},
      {INT64_MAX, SeekOrigin::Current, 300, 1000},
      {INT64_MIN, SeekOrigin::Current, 300, 0},
      {-10, SeekOrigin::End, 0, 990},
      {100, SeekOrigin::End, 0, 1000},
      {INT64_MIN, SeekOrigin::End, 0, 0},
  };
  for (const auto& c : cases) {
    s.SetPosition(c.start);
    EXPECT_EQ(s.Seek(c.offset, c.origin), c.expected) << c.offset << " from " << static_cast<int>(c.origin);
    EXPECT_EQ(s.Position(), c.expected);
  }
  s.SetPosition(5000);
  char b;
  EXPECT_EQ(s.Read(&b, 1), 0);
  EXPECT_TRUE(src.reads.empty());  // seeking never touches the source
}

// Starts with a window over [65536, 131072) of a 300000-byte source.
class BufferedWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ReadAt(s, kW, 4, 4);
    ASSERT_EQ(s.WindowStart(), kW);
    ASSERT_EQ(s.WindowSize(), kW);
    src.reads.clear();
  }
  TCountingStream src{300000};
  TzanBufferedStream s{&src, false};
};

TEST_F(BufferedWindow, ShortStepBackSlidesTheWindow) {
  ReadAt(s, 65530, 4, 4);
  EXPECT_EQ(src.reads, (std::vector<SourceRead>{{65530, 6}}));
  EXPECT_EQ(s.WindowStart(), 65530);
  EXPECT_EQ(s.WindowSize(), kW);

  // The slid window holds the right bytes throughout, up to its new end.
  src.reads.clear();
  ReadAt(s, 65530, kW, kW);
  EXPECT_TRUE(src.reads.empty());
}

TEST_F(BufferedWindow, LongStepBackLoadsANewWindow) {
  ReadAt(s, 0, 4, 4);
  EXPECT_EQ(src.reads, (std::vector<SourceRead>{{0, kW}}));
  EXPECT_EQ(s.WindowStart(), 0);
  EXPECT_EQ(s.WindowSize(), kW);
}

TEST_F(BufferedWindow, ReadEndingInsideTheWindowReadsTheGapDirectly) {
  ReadAt(s, 65500, 100, 100);
  EXPECT_EQ(src.reads, (std::vector<SourceRead>{{65500, 36}}));
  EXPECT_EQ(s.WindowStart(), kW);  // the window stays where it was
}

TEST_F(BufferedWindow, ReadsPastTheWindowReloadAtThePosition) {
  ReadAt(s, 131070, 10, 10);  // the last 2 bytes of the window, then a new one
  EXPECT_EQ(src.reads, (std::vector<SourceRead>{{131072, kW}}));
  EXPECT_EQ(s.WindowStart(), 131072);

  src.reads.clear();
  ReadAt(s, 250000, 8, 8);  // well past it
  EXPECT_EQ(src.reads, (std::vector<SourceRead>{{250000, 50000}}));  // only what the source has
  EXPECT_EQ(s.WindowSize(), 50000);
}

TEST_F(BufferedWindow, LargeReadSpansGapWindowAndReloads) {
  // 60000 bytes before the window, the whole window, and 10000 after it.
  const int64_t start = kW - 60000;
  ReadAt(s, start, 60000 + kW + 10000, 60000 + kW + 10000);
  EXPECT_EQ(src.reads, (std::vector<SourceRead>{{start, 60000}, {2 * kW, kW}}));
}

TEST(BufferedStream, SequentialReadingCostsOneSourceReadPerWindow) {
  TCountingStream src(3 * kW + 123);
  TzanBufferedStream s(&src, false);
  std::vector<uint8_t> all;
  uint8_t buf[1000];
  int64_t n;
  while ((n = s.Read(buf, sizeof buf)) > 0) all.insert(all.end(), buf, buf + n);
  EXPECT_EQ(all, Expected(0, 3 * kW + 123));
  EXPECT_EQ(src.reads, (std::vector<SourceRead>{{0, kW}, {kW, kW}, {2 * kW, kW}, {3 * kW, 123}}));
}

TEST(BufferedStream, WriteRaisesAndChangesNothing) {
  TCountingStream src(100);
  TzanBufferedStream s(&src, false);
  s.SetPosition(7);
  for (int64_t count : {0, 1, 100}) {
    std::vector<uint8_t> data(static_cast<size_t>(count) + 1, 0);
    try {
      s.Write(data.data(), count);
      ADD_FAILURE() << "no exception for " << count;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Cannot write to TzanBufferedStream");
    }
  }
  EXPECT_EQ(s.Position(), 7);
  EXPECT_EQ(s.Size(), 100);
  EXPECT_THROW(s.SetSize(10), Exception);
  ReadAt(s, 7, 3, 3);
}

TEST(BufferedStream, ShortSourceRaisesAndLeavesNoStaleWindow) {
  // The source claims 200000 bytes but fails from 100000 on.
  TCountingStream src(200000);
  src.readableEnd = 100000;
  TzanBufferedStream s(&src, false);
  uint8_t buf[16];
  s.SetPosition(90000);
  EXPECT_THROW(s.ReadBuffer(buf, 4), EReadError);
  EXPECT_EQ(s.WindowSize(), 0);

  // Readable parts still read right afterwards.
  ReadAt(s, 20000, 16, 16);
  ASSERT_EQ(s.WindowStart(), 20000);

  // A slide that cannot be filled drops the window instead of keeping a
  // half-moved one.
  src.readableEnd = 15000;
  s.SetPosition(14990);
  EXPECT_THROW(s.ReadBuffer(buf, 4), EReadError);
  EXPECT_EQ(s.WindowSize(), 0);
  src.readableEnd = -1;
  ReadAt(s, 20000, 16, 16);
}

TEST(BufferedStream, OwnsItsSourceWhenAsked) {
  bool destroyed = false;
  { TzanBufferedStream s(new TCountingStream(5, &destroyed), true); }
  EXPECT_TRUE(destroyed);

  destroyed = false;
  TCountingStream src(5, &destroyed);
  { TzanBufferedStream s(&src, false); }
  EXPECT_FALSE(destroyed);
}

}  // namespace
}  // namespace zan
