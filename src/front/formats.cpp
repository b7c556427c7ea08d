#include "front/formats.h"

#include "front/hooks.h"
#include "meta/meta.h"

namespace zan {

// Each format unit contributes one Register...Unit() call here, in the load
// order that fixes the file-class registry (asked last first) and the
// detect string (listed first to last).
void RegisterFormats() {}

void UnregisterFormats() {
  MetaFileClassRegistry().clear();
  Hooks() = FrontHooks{};
}

}  // namespace zan
