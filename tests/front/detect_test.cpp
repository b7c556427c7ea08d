// The detect expression: merging of terms, the fixed signatures, cutting to
// the host's buffer, and the expression the module gives a host.
#include "front/detect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "meta/meta.h"
#include "module/plugin_api.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"
#include "support/fixtures.h"

namespace zan {
namespace {

// A file class known only by its class-level answers.
class TermClass : public TzanMetaFileClass {
 public:
  // A signature, or (custom) a detect string of its own; raises when asked
  // for its detect string if raises is set.
  static TermClass Signature(std::string bytes) { return TermClass(std::move(bytes), {}, false); }
  static TermClass Custom(std::string detect) { return TermClass({}, std::move(detect), false); }
  static TermClass Raising() { return TermClass({}, {}, true); }

  const char* ClassName() const override { return "TermClass"; }
  std::string GetSignature() const override { return signature_; }
  std::string GetDetectString() const override {
    if (raises_) throw EzanMetaException("no detect string");
    return detect_.empty() ? TzanMetaFileClass::GetDetectString() : detect_;
  }
  std::unique_ptr<TzanMetaFile> Create() const override { return nullptr; }

 private:
  TermClass(std::string s, std::string d, bool r) : signature_(std::move(s)), detect_(std::move(d)), raises_(r) {}
  std::string signature_, detect_;
  bool raises_;
};

// The terms of the fixed signatures, in their order.
const std::vector<std::string> kFixed = {
    R"([0]="B"&[1]="M")",
    R"([0]=255&[1]=216&[2]=255)",
    R"([0]="G"&[1]="I"&[2]="F"&[3]="8")",
    R"([0]=137&[1]="P"&[2]="N"&[3]="G")",
    R"([0]=0&[1]=0&[2]=1&[3]=0)",
    R"([0]=0&[1]=0&[2]=2&[3]=0)",
    R"([40]=" "&[41]="E"&[42]="M"&[43]="F")",
    R"([0]=215&[1]=205&[2]=198&[3]=154)",
    R"([0]="I"&[1]="D"&[2]="3")",
};

// A controlled registry for one test; the real one is put back after.
class DetectString : public ::testing::Test {
 protected:
  void SetUp() override { saved_.swap(MetaFileClassRegistry()); }
  void TearDown() override { saved_.swap(MetaFileClassRegistry()); }

  // Fills a buffer of m bytes that has guard bytes after it.
  static std::string Fill(int32_t m) {
    std::vector<char> buffer(size_t(m) + 8, '\x5A');
    GetDetectString(buffer.data(), m);
    for (size_t i = size_t(m); i < buffer.size(); ++i) EXPECT_EQ(buffer[i], '\x5A') << "wrote past " << m;
    const std::string text(buffer.data());
    EXPECT_LT(text.size(), size_t(m));
    for (size_t i = text.size(); i < size_t(m); ++i) EXPECT_EQ(buffer[i], 0) << "zero fill at " << i;
    return text;
  }

  std::vector<const TzanMetaFileClass*> saved_;
};

TEST_F(DetectString, TermsCoveredByOthersAreMerged) {
  struct Case {
    std::vector<std::string> added;
    std::vector<std::string> list;
    const char* what;
  };
  const std::string ab = "[0]=1&[1]=2", ac = "[0]=1&[1]=3", a = "[0]=1", z = "[5]=9";
  const Case cases[] = {
      {{ab, ab}, {ab}, "equal terms once"},
      {{a, ab, ac}, {a}, "a longer term adds nothing"},
      {{ab, z, ac, a}, {z, a}, "a shorter term replaces the longer ones and goes last"},
      {{a, "[0]=137&[1]=80"}, {a, "[0]=137&[1]=80"}, "[0]=1 does not cover [0]=137"},
      {{"[0]=137&[1]=80", a}, {"[0]=137&[1]=80", a}, "nor is it covered the other way"},
      {{"[0]=1&[1]=2&[2]=3", "[0]=1&[1]=20"}, {"[0]=1&[1]=2&[2]=3", "[0]=1&[1]=20"}, "[1]=2 vs [1]=20"},
      {{R"([0]="a")", R"([0]="A")"}, {R"([0]="a")", R"([0]="A")"}, "case-sensitive"},
      {{"", a, ""}, {a}, "empty terms are ignored"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> list;
    for (const auto& t : c.added) AddDetectTerm(list, t);
    EXPECT_EQ(list, c.list) << c.what;
  }

  EXPECT_EQ(CombineDetectTerms({}), "");
  EXPECT_EQ(CombineDetectTerms({ab}), ab);
  EXPECT_EQ(CombineDetectTerms({ab, z, a}), "(" + ab + ")|(" + z + ")|(" + a + ")");
}

TEST_F(DetectString, FixedSignaturesFollowTheRegisteredClasses) {
  std::vector<std::string> terms;
  CollectDetectTerms(terms);
  EXPECT_EQ(terms, kFixed) << "no class registered: the fixed list alone";

  // Registration order first; a class's term meets the fixed ones by the
  // same rules: a longer JPEG term gives way to the fixed one, a shorter
  // "ID" term covers the fixed ID3 one, an equal GIF term keeps its place.
  const TermClass psd = TermClass::Signature("8BPS");
  const TermClass jpeg = TermClass::Signature("\xFF\xD8\xFF\xE1");
  const TermClass id = TermClass::Custom(R"([0]="I"&[1]="D")");
  const TermClass gif = TermClass::Signature("GIF8");
  const TermClass none = TermClass::Signature("");
  for (const TermClass* c : {&psd, &jpeg, &id, &none, &gif}) RegisterMetaFileClass(*c);
  terms.clear();
  CollectDetectTerms(terms);
  const std::vector<std::string> want = {R"([0]="8"&[1]="B"&[2]="P"&[3]="S")",
                                         R"([0]="I"&[1]="D")",
                                         kFixed[2],
                                         kFixed[0],
                                         kFixed[1],
                                         kFixed[3],
                                         kFixed[4],
                                         kFixed[5],
                                         kFixed[6],
                                         kFixed[7]};
  EXPECT_EQ(terms, want);
  EXPECT_EQ(Fill(2048), CombineDetectTerms(want) + "|MULTIMEDIA");
}

TEST_F(DetectString, CutsWholeAlternativesToFitTheBuffer) {
  // A class whose term holds a quoted "|" comes first: cuts never split it.
  const TermClass bar = TermClass::Signature("|A");
  RegisterMetaFileClass(bar);
  std::vector<std::string> alternatives = {R"(([0]="|"&[1]="A"))"};
  for (const auto& t : kFixed) alternatives.push_back("(" + t + ")");
  alternatives.push_back("MULTIMEDIA");
  auto join = [&](size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += (i ? "|" : "") + alternatives[i];
    return s;
  };
  const std::string full = join(alternatives.size());
  const std::string noKeyword = join(alternatives.size() - 1);
  const std::string first = alternatives[0];

  struct Case {
    size_t m;
    std::string text;
  };
  const Case cases[] = {
      {full.size() + 1, full},
      {full.size(), noKeyword},
      {noKeyword.size() + 1, noKeyword},
      {noKeyword.size(), join(alternatives.size() - 2)},
      {first.size() + 1, first},
      {first.size(), ""},
      {1, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Fill(int32_t(c.m)), c.text) << c.m;
  // Every length: the most whole alternatives that fit.
  size_t n = 0;
  for (size_t m = 1; m <= full.size() + 2; ++m) {
    while (n < alternatives.size() && join(n + 1).size() <= m - 1) ++n;
    ASSERT_EQ(Fill(int32_t(m)), join(n)) << m;
  }
}

TEST_F(DetectString, FailuresLeaveTheBufferEmpty) {
  const TermClass raising = TermClass::Raising();
  RegisterMetaFileClass(raising);
  EXPECT_EQ(Fill(2048), "");
  std::vector<char> before(4, '\x5A');
  GetDetectString(before.data(), 0);
  GetDetectString(before.data(), -5);
  EXPECT_EQ(before, std::vector<char>(4, '\x5A')) << "no room: nothing written";
  GetDetectString(nullptr, 100);
}

// The set the module registers, asked through its export as a host does.
// Other formats come and go, so only the shape is checked.
TEST(DetectStringModule, RegisteredFormatsGiveAWellFormedExpression) {
  DynamicLibrary lib;
  ASSERT_TRUE(lib.Open(ZAN_MODULE_PATH)) << lib.Error();
  auto get = reinterpret_cast<ListGetDetectStringProc>(lib.Symbol("ListGetDetectString"));
  ASSERT_NE(get, nullptr);
  std::vector<char> buffer(2048 + 1, '\x5A');
  get(buffer.data(), 2048);
  EXPECT_EQ(buffer[2048], '\x5A');
  const std::string text(buffer.data());
  ASSERT_LE(text.size(), 2047u);

  const std::string keyword = "|MULTIMEDIA";
  ASSERT_GT(text.size(), keyword.size());
  ASSERT_EQ(text.substr(text.size() - keyword.size()), keyword) << text;
  const std::string body = text.substr(0, text.size() - keyword.size());
  ASSERT_EQ(body.front(), '(');
  ASSERT_EQ(body.back(), ')');
  std::vector<std::string> alternatives;
  for (size_t start = 1;;) {
    const size_t end = body.find(")|(", start);
    alternatives.push_back(body.substr(start, end == std::string::npos ? body.size() - 1 - start : end - start));
    if (end == std::string::npos) break;
    start = end + 3;
  }
  auto covers = [](const std::string& shorter, const std::string& term) {
    return term.compare(0, shorter.size(), shorter) == 0 &&
           (term.size() == shorter.size() || term[shorter.size()] == '&');
  };
  for (size_t i = 0; i < alternatives.size(); ++i) {
    EXPECT_FALSE(alternatives[i].empty());
    for (size_t j = 0; j < alternatives.size(); ++j) {
      if (i != j) {
        EXPECT_FALSE(covers(alternatives[i], alternatives[j])) << alternatives[i] << " / " << alternatives[j];
      }
    }
  }
  for (const auto& fixed : kFixed) {
    bool covered = false;
    for (const auto& alt : alternatives) covered = covered || covers(alt, fixed);
    EXPECT_TRUE(covered) << fixed;
  }

  // The command-line tool prints what the export gives, for any length.
  for (const int32_t m : {2048, 100}) {
    std::vector<char> b(size_t(m), '\x5A');
    get(b.data(), m);
    std::string out;
    const std::string mArg = m == 2048 ? "" : " -m " + std::to_string(m);
    EXPECT_EQ(RunCommand(std::string(ZAN_CLI_PATH) + " detect --module '" + ZAN_MODULE_PATH + "'" + mArg, out), 0);
    EXPECT_EQ(out, std::string(b.data()) + "\n");
  }
}

TEST(DetectStringModule, CommandLineUsageErrors) {
  for (const char* args : {"detect -m 0", "detect -m x", "detect -m", "detect -m 99999999999", "detect extra",
                           "detect --ini /nonexistent/zan.ini", "detect --module /nonexistent/lib.so"}) {
    std::string out;
    EXPECT_EQ(RunCommand(std::string(ZAN_CLI_PATH) + " " + args + " 2>&1", out), 2) << args;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << args << "\n" << out;
  }
  std::string out;
  EXPECT_EQ(RunCommand(std::string(ZAN_CLI_PATH) + " detect --help", out), 0);
  EXPECT_NE(out.find("ZANPICTORS_INI"), std::string::npos);
}

}  // namespace
}  // namespace zan
