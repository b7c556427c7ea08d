// The detect expression the host uses to decide which files to offer the
// module: one alternative per signature of the formats it reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zan {

// Adds a term ("[offset]=value" conditions joined by "&") to the list unless
// a term already there covers it, i.e. is equal to it or consists of its
// first conditions; terms that the new one covers are removed and it is
// appended. An empty term (a class without a signature) is ignored.
void AddDetectTerm(std::vector<std::string>& AList, const std::string& ATerm);

// The terms of the registered file classes, in registration order, then of
// the fixed signatures (plain images and audio tags), merged by
// AddDetectTerm. May raise when a class does.
void CollectDetectTerms(std::vector<std::string>& AList);

// "" for no term, the term itself for one, "(t0)|(t1)|..." for more.
std::string CombineDetectTerms(const std::vector<std::string>& AList);

// The whole expression, the alternatives followed by "|MULTIMEDIA", cut to
// at most maxChars characters by dropping whole alternatives from the end
// (the keyword first). Empty when not even the first alternative fits. May
// raise when a class does.
std::string BuildDetectString(int64_t maxChars);

// Fills a buffer of bufferSize bytes: the expression, cut to fit with its
// terminating NUL, and zeros after it; all zeros when building fails. Does
// nothing for a null buffer or a size of 0 or less. Never raises.
void GetDetectString(char* buffer, int32_t bufferSize);

}  // namespace zan
