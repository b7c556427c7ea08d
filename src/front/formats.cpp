#include "front/formats.h"

#include "exif/exif_unit.h"
#include "front/hooks.h"
#include "icon/icon.h"
#include "jpeg/jpeg_file.h"
#include "jpeg/photoshop.h"
#include "meta/meta.h"

namespace zan {

// Each format unit contributes one Register...Unit() call here. The order is
// the load order, which fixes the file-class registry (asked last first) and
// the detect string (listed first to last): Photoshop, JPEG, RIFF, palette,
// animated cursor, ZIP-packaged, TIFF little-endian, TIFF big-endian, EPS,
// binary EPS. Units without file classes (EXIF segments, icons, audio tags,
// compound documents) register their segment classes and hooks after them.
void RegisterFormats() {
  RegisterPsdUnit();
  RegisterJpegUnit();
  RegisterExifUnit();  // TIFF II and MM (positions 7 and 8), the Exif segment
  RegisterIconUnit();
}

void UnregisterFormats() {
  UnregisterIconUnit();
  MetaFileClassRegistry().clear();
  Hooks() = FrontHooks{};
}

}  // namespace zan
