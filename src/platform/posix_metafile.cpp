// Metafile rendering on POSIX systems: no renderer of the records exists here
// yet, so a metafile yields an empty picture (and no thumbnail).
#include "platform/codecs.h"

namespace zan {

Bitmap32 MetafileRender(TStream&) { return Bitmap32(); }

}  // namespace zan
