// One thumbnail request from the host, source by source.
#pragma once

#include <cstdint>
#include <string>

#include "platform/gdi.h"
#include "platform/stream.h"

namespace zan {

// Runs once when the module loads: the format units register their classes
// (in a fixed order) and plug their hooks into the front end. Later calls do
// nothing.
void LoadModule();
// Frees what LoadModule set up (the cache's bitmaps among them).
void UnloadModule();

// The sources tried for one opened file, in order: registered formats, plain
// image, audio-tag picture, document previews. Never raises.
ZanHBITMAP StreamPreview(TStream& stream, int32_t width, int32_t height);

// The whole request: cache, registered formats, plain image, audio-tag
// picture, document previews; then the cache copy and the minimum-time wait.
// Null when nothing yields a thumbnail. Never raises.
ZanHBITMAP GetPreviewBitmap(const std::u16string& fileName, int32_t width, int32_t height);

}  // namespace zan
