// The node tree: ownership, moves, names, the thumbnail numbering, the
// Changed flag and decoding thumbnails on demand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "meta/meta.h"
#include "meta/utils.h"
#include "support/fixtures.h"

namespace zan {
namespace {

// A plain node with a name of its own; it records its destruction.
class TNode : public TzanMetaObject {
 public:
  TNode(TzanMetaObject* owner, std::string name, std::vector<std::string>* log = nullptr)
      : TzanMetaObject(owner), name_(std::move(name)), log_(log) {}
  ~TNode() override {
    if (log_ != nullptr) log_->push_back(name_);
  }
  std::string GetName() const override { return name_; }

  // Gives the node a thumbnail of the given bytes.
  void SetThumbnail(const std::vector<uint8_t>& bytes, int32_t rotate = 0) {
    ThumbnailStream().WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    FThumbnailRotateMirror = rotate;
  }

 private:
  std::string name_;
  std::vector<std::string>* log_;
};

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> b) { return b; }

std::vector<std::string> ChildNames(const TzanMetaObject& node) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < node.ItemCount(); ++i) names.push_back(node.Items(i)->Name());
  return names;
}

// ---- TzanMemoryStream ---------------------------------------------------------

TEST(MetaMemoryStream, WritesAndSizeChangesSetChanged) {
  TzanMemoryStream s;
  EXPECT_FALSE(s.Changed());

  s.SetSize(0);  // the current size: no change
  EXPECT_FALSE(s.Changed());

  s.Write("", 0);  // a write of nothing still counts
  EXPECT_TRUE(s.Changed());
  EXPECT_EQ(s.GetSize(), 0);

  s.SetChanged(false);
  s.SetSize(8);
  EXPECT_TRUE(s.Changed());

  s.SetChanged(false);
  s.SetSize(8);
  EXPECT_FALSE(s.Changed());

  s.WriteBuffer("abc", 3);
  EXPECT_TRUE(s.Changed());
  EXPECT_EQ(s.GetSize(), 8);
}

// ---- ownership and structure ------------------------------------------------------

TEST(MetaObject, ChildrenAttachInOrderAndMarkTheOwner) {
  TNode root(nullptr, "root");
  root.SetChanged(false);
  auto* a = new TNode(&root, "a");
  auto* b = new TNode(&root, "b");
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(a->Owner(), &root);
  EXPECT_EQ(b->Index(), 1);
  EXPECT_EQ(root.IndexOf(b), 1);
  EXPECT_EQ(root.IndexOf(&root), -1);
  EXPECT_EQ(root.Index(), -1);
  EXPECT_TRUE(root.Changed());
}

TEST(MetaObject, OwnerMoveDetachesAndAppends) {
  TNode left(nullptr, "left");
  TNode right(nullptr, "right");
  auto* a = new TNode(&left, "a");
  new TNode(&left, "b");
  new TNode(&right, "c");
  left.SetChanged(false);
  right.SetChanged(false);

  a->SetOwner(&right);
  EXPECT_EQ(ChildNames(left), (std::vector<std::string>{"b"}));
  EXPECT_EQ(ChildNames(right), (std::vector<std::string>{"c", "a"}));
  EXPECT_TRUE(left.Changed());
  EXPECT_TRUE(right.Changed());

  // Setting the same owner again changes nothing.
  right.SetChanged(false);
  a->SetOwner(&right);
  EXPECT_FALSE(right.Changed());
  EXPECT_EQ(a->Index(), 1);

  // Detached, the node is the caller's to free.
  a->SetOwner(nullptr);
  EXPECT_EQ(right.ItemCount(), 1);
  EXPECT_EQ(a->Index(), -1);
  delete a;
}

TEST(MetaObject, IndexMovesWithinTheOwner) {
  TNode root(nullptr, "root");
  auto* a = new TNode(&root, "a");
  new TNode(&root, "b");
  auto* c = new TNode(&root, "c");

  c->SetIndex(0);
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"c", "a", "b"}));
  a->SetIndex(2);
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"c", "b", "a"}));
  a->SetIndex(2);  // equal: nothing
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"c", "b", "a"}));
  EXPECT_THROW(a->SetIndex(3), Exception);
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"c", "b", "a"}));

  TNode lone(nullptr, "lone");
  lone.SetIndex(4);  // no owner: nothing
  EXPECT_EQ(lone.Index(), -1);
}

TEST(MetaObject, ClearFreesChildrenLastFirstAndDeleteDetaches) {
  std::vector<std::string> log;
  TNode root(nullptr, "root");
  auto* a = new TNode(&root, "a", &log);
  new TNode(a, "a1", &log);
  new TNode(&root, "b", &log);
  auto* c = new TNode(&root, "c", &log);

  // A child freed directly leaves its owner's list.
  TzanMetaObject::Free(c);
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"a", "b"}));

  root.ThumbnailStream().WriteBuffer("x", 1);
  root.Clear();
  EXPECT_EQ(log, (std::vector<std::string>{"c", "b", "a", "a1"}));
  EXPECT_EQ(root.ItemCount(), 0);
  EXPECT_EQ(root.FThumbnailStream, nullptr);
}

TEST(MetaObject, FullNameJoinsTheOwnersNames) {
  TNode root(nullptr, "File");
  auto* seg = new TNode(&root, "APP1");
  auto* dir = new TNode(seg, "IFD0");
  EXPECT_EQ(root.FullName(), "File");
  EXPECT_EQ(dir->FullName(), "File.APP1.IFD0");
  EXPECT_EQ(dir->Value(), "");

  // The base name is the class name.
  TzanMetaObject plain(nullptr);
  EXPECT_EQ(plain.Name(), "TzanMetaObject");
}

TEST(MetaObject, DefThumbnailSizeDefersUnlessBothSidesAreSet) {
  TNode root(nullptr, "root");
  auto* child = new TNode(&root, "child");
  auto* grandchild = new TNode(child, "grandchild");
  EXPECT_EQ(grandchild->DefThumbnailSize(), (TSize{0, 0}));

  root.SetDefThumbnailSize({160, 120});
  child->SetDefThumbnailSize({0, 120});
  EXPECT_EQ(child->DefThumbnailSize(), (TSize{160, 120}));
  EXPECT_EQ(grandchild->DefThumbnailSize(), (TSize{160, 120}));

  child->SetDefThumbnailSize({64, 48});
  EXPECT_EQ(grandchild->DefThumbnailSize(), (TSize{64, 48}));
  EXPECT_EQ(root.DefThumbnailSize(), (TSize{160, 120}));
}

// ---- Changed --------------------------------------------------------------------

TEST(MetaObject, ChangedReadsTheSubtreeAndWritesItWhole) {
  TNode root(nullptr, "root");
  auto* a = new TNode(&root, "a");
  auto* a1 = new TNode(a, "a1");
  a1->ThumbnailStream();
  EXPECT_TRUE(root.Changed());  // new nodes are changed

  root.SetChanged(false);
  EXPECT_FALSE(root.Changed());
  EXPECT_FALSE(a1->FThumbnailStream->Changed());

  // A write into a deep thumbnail stream shows at the root.
  a1->FThumbnailStream->WriteBuffer("z", 1);
  EXPECT_TRUE(root.Changed());
  EXPECT_TRUE(a->Changed());

  root.SetChanged(false);
  a1->Change();
  EXPECT_TRUE(root.Changed());
  EXPECT_FALSE(a1->FThumbnailStream->Changed());

  // Writing true reaches every node and stream.
  root.SetChanged(false);
  root.SetChanged(true);
  EXPECT_TRUE(a1->FThumbnailStream->Changed());
}

// ---- thumbnail numbering ---------------------------------------------------------

// root (no thumbnail) with children holding 0, 2 and 1 thumbnails:
//   c0: none; c1: own "B" and child c1a "C"; c2: child c2a "D" (rotate 6).
struct ThumbTree {
  TNode root{nullptr, "root"};
  TNode* c0 = new TNode(&root, "c0");
  TNode* c1 = new TNode(&root, "c1");
  TNode* c1a = new TNode(c1, "c1a");
  TNode* c2 = new TNode(&root, "c2");
  TNode* c2a = new TNode(c2, "c2a");
  ThumbTree() {
    c0->ThumbnailStream();  // an empty stream is no thumbnail
    c1->SetThumbnail(Bytes({'B', 1}), 3);
    c1a->SetThumbnail(Bytes({'C', 2, 2}), 0);
    c2a->SetThumbnail(Bytes({'D'}), 6);
  }
};

TEST(MetaObject, ThumbnailsAreNumberedDepthFirst) {
  ThumbTree t;
  EXPECT_EQ(t.root.ThumbnailCount(), 3);
  EXPECT_EQ(t.c0->ThumbnailCount(), 0);
  EXPECT_FALSE(t.c0->HasOwnThumbnail());

  const TzanMetaObject* owners[] = {t.c1, t.c1a, t.c2a};
  const uint32_t sizes[] = {2, 3, 1};
  const int32_t rotations[] = {3, 0, 6};
  for (int32_t n = 0; n < 3; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(t.root.FindThumbnailOwner(n), owners[n]);
    EXPECT_EQ(t.root.GetThumbnailDataSize(n), sizes[n]);
    EXPECT_EQ(t.root.GetThumbnailData(n), owners[n]->FThumbnailStream->Memory());
    EXPECT_EQ(t.root.GetThumbnailRotateMirror(n), rotations[n]);
  }

  // A node's own thumbnail comes before its children's.
  EXPECT_EQ(t.c1->FindThumbnailOwner(0), t.c1);
  EXPECT_EQ(t.c1->FindThumbnailOwner(1), t.c1a);

  // The root gains its own thumbnail: it becomes number 0.
  t.root.SetThumbnail(Bytes({'A'}));
  EXPECT_EQ(t.root.ThumbnailCount(), 4);
  EXPECT_EQ(t.root.FindThumbnailOwner(0), &t.root);
  EXPECT_EQ(t.root.FindThumbnailOwner(3), t.c2a);
}

TEST(MetaObject, OutOfRangeThumbnailNumbersAnswerNone) {
  ThumbTree t;
  for (int32_t n : {-1, 3, 100, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(t.root.FindThumbnailOwner(n), nullptr);
    EXPECT_EQ(t.root.GetThumbnailData(n), nullptr);
    EXPECT_EQ(t.root.GetThumbnailDataSize(n), 0u);
    EXPECT_EQ(t.root.GetThumbnailSize(n), (TSize{0, 0}));
    EXPECT_EQ(t.root.GetThumbnail(n), nullptr);
    EXPECT_EQ(t.root.GetThumbnailRotateMirror(n), 0);
  }
}

TEST(MetaObject, ClearThumbnailKeepsTheOrientation) {
  TNode node(nullptr, "n");
  node.SetThumbnail(Bytes({1, 2}), 8);
  node.ClearThumbnail();
  EXPECT_EQ(node.FThumbnailStream, nullptr);
  EXPECT_EQ(node.FThumbnailRotateMirror, 8);
  EXPECT_EQ(node.ThumbnailCount(), 0);
}

// ---- thumbnail pixel sizes and decoding --------------------------------------------

std::vector<uint8_t> SmallBmp() {
  // 3 x 2, 24 bits, bottom-up: a red row under a blue row.
  TMemoryStream s;
  WriteBitmapHeaders(s, 3, 2, 24, true);
  const uint8_t red[12] = {0, 0, 255, 0, 0, 255, 0, 0, 255};
  const uint8_t blue[12] = {255, 0, 0, 255, 0, 0, 255, 0, 0};
  s.WriteBuffer(red, 12);
  s.WriteBuffer(blue, 12);
  return test::StreamBytes(s);
}

TEST(MetaObject, ThumbnailSizeIsSniffedFromTheStart) {
  TNode root(nullptr, "root");
  auto* child = new TNode(&root, "child");
  child->SetThumbnail(SmallBmp());
  // The stream was left at its end by the writes; the size is read from 0.
  EXPECT_EQ(root.GetThumbnailSize(0), (TSize{3, 2}));
}

TEST(MetaObject, GetThumbnailDecodesBmpOnceAndKeepsIt) {
  TNode root(nullptr, "root");
  auto* child = new TNode(&root, "child");
  child->SetThumbnail(SmallBmp());

  const Bitmap32* bmp = root.GetThumbnail(0);
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(bmp->Width(), 3);
  EXPECT_EQ(bmp->Height(), 2);
  EXPECT_EQ(bmp->Pixel(0, 0) & 0xFFFFFF, 0x0000FFu);  // top row blue
  EXPECT_EQ(bmp->Pixel(2, 1) & 0xFFFFFF, 0xFF0000u);  // bottom row red
  EXPECT_EQ(child->FThumbnailHandle.get(), bmp);
  EXPECT_EQ(root.GetThumbnail(0), bmp);  // kept, not decoded again

  child->ClearThumbnail();
  EXPECT_EQ(child->FThumbnailHandle, nullptr);
}

TEST(MetaObject, GetThumbnailDecodesJpeg) {
  TNode node(nullptr, "n");
  node.SetThumbnail(test::MakeJpeg(40, 24));
  EXPECT_EQ(node.GetThumbnailSize(0), (TSize{40, 24}));
  const Bitmap32* bmp = node.GetThumbnail(0);
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(bmp->Width(), 40);
  EXPECT_EQ(bmp->Height(), 24);
}

TEST(MetaObject, GetThumbnailGivesNullForUndecodableOrOtherTypes) {
  std::vector<uint8_t> brokenBmp = SmallBmp();
  brokenBmp.resize(30);  // the headers end early
  std::vector<uint8_t> brokenJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0x12, 0x34};
  const std::vector<uint8_t> cases[] = {
      brokenBmp,
      brokenJpeg,
      {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A},  // PNG is not decoded here
      {1, 2},                                          // too short to sniff
  };
  for (const auto& bytes : cases) {
    TNode node(nullptr, "n");
    node.SetThumbnail(bytes);
    EXPECT_EQ(node.GetThumbnail(0), nullptr);
    EXPECT_EQ(node.GetThumbnail(0), nullptr);  // asking again is just as safe
  }
}

}  // namespace
}  // namespace zan
