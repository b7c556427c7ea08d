#include "front/detect.h"

#include <cstring>

#include "meta/meta.h"

namespace zan {

namespace {

// The formats the pipeline decodes itself, without a registered file class.
struct FixedSignature {
  int32_t offset;
  const char* bytes;
  size_t length;
};
const FixedSignature kFixedSignatures[] = {
    {0, "\x42\x4D", 2},           // BMP
    {0, "\xFF\xD8\xFF", 3},       // JPEG
    {0, "\x47\x49\x46\x38", 4},   // GIF
    {0, "\x89\x50\x4E\x47", 4},   // PNG
    {0, "\x00\x00\x01\x00", 4},   // icon
    {0, "\x00\x00\x02\x00", 4},   // cursor
    {40, "\x20\x45\x4D\x46", 4},  // enhanced metafile (" EMF" at offset 40)
    {0, "\xD7\xCD\xC6\x9A", 4},   // placeable metafile
    {0, "\x49\x44\x33", 3},       // ID3 tag (audio files with pictures)
};

constexpr char kKeyword[] = "MULTIMEDIA";

// Whether `covering` is `term` or its first conditions: a textual prefix that
// ends where one of term's conditions ends ("[0]=1" does not cover
// "[0]=137": the byte values differ).
bool Covers(const std::string& covering, const std::string& term) {
  if (term.compare(0, covering.size(), covering) != 0) return false;
  return term.size() == covering.size() || term[covering.size()] == '&';
}

}  // namespace

void AddDetectTerm(std::vector<std::string>& AList, const std::string& ATerm) {
  // An empty term would cover every other and leave an empty alternative.
  if (ATerm.empty()) return;
  for (size_t i = AList.size(); i-- > 0;) {
    if (Covers(AList[i], ATerm)) return;
  }
  for (size_t i = AList.size(); i-- > 0;) {
    if (Covers(ATerm, AList[i])) AList.erase(AList.begin() + static_cast<std::ptrdiff_t>(i));
  }
  AList.push_back(ATerm);
}

void CollectDetectTerms(std::vector<std::string>& AList) {
  std::vector<const TzanMetaFileClass*> classes;
  GetMetaFileClassList(classes);
  for (const TzanMetaFileClass* c : classes) AddDetectTerm(AList, c->GetDetectString());
  for (const FixedSignature& f : kFixedSignatures)
    AddDetectTerm(AList, SignatureToDetectString(f.offset, std::string(f.bytes, f.length)));
}

std::string CombineDetectTerms(const std::vector<std::string>& AList) {
  if (AList.empty()) return {};
  if (AList.size() == 1) return AList[0];
  std::string text;
  for (size_t i = 0; i < AList.size(); ++i) {
    if (i > 0) text += '|';
    text += '(';
    text += AList[i];
    text += ')';
  }
  return text;
}

std::string BuildDetectString(int64_t maxChars) {
  std::vector<std::string> terms;
  CollectDetectTerms(terms);

  // The alternatives in the order they are written, the keyword last. The
  // text is cut by whole alternatives; a term may itself hold a "|" (a
  // quoted byte 7C, or a class's own expression), so the cut follows this
  // list rather than searching the text.
  std::vector<std::string> alternatives;
  if (terms.size() == 1) {
    alternatives.push_back(terms[0]);
  } else {
    for (const std::string& t : terms) alternatives.push_back("(" + t + ")");
  }
  alternatives.push_back(kKeyword);

  int64_t length = -1;
  for (const std::string& a : alternatives) length += static_cast<int64_t>(a.size()) + 1;
  while (!alternatives.empty() && length > maxChars) {
    length -= static_cast<int64_t>(alternatives.back().size()) + 1;
    alternatives.pop_back();
  }

  std::string text;
  for (size_t i = 0; i < alternatives.size(); ++i) {
    if (i > 0) text += '|';
    text += alternatives[i];
  }
  return text;
}

void GetDetectString(char* buffer, int32_t bufferSize) {
  if (buffer == nullptr || bufferSize <= 0) return;
  std::memset(buffer, 0, static_cast<size_t>(bufferSize));
  try {
    // The terms are plain ASCII, the same in every code page.
    const std::string text = BuildDetectString(int64_t(bufferSize) - 1);
    std::memcpy(buffer, text.data(), text.size());
  } catch (...) {
    std::memset(buffer, 0, static_cast<size_t>(bufferSize));
  }
}

}  // namespace zan
