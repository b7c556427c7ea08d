// The plug-in's exported functions, with the host's C calling shape.
#pragma once

#include <cstdint>

#include "platform/gdi.h"

extern "C" {

#if defined(_WIN32)
typedef wchar_t ZanWChar;
#else
typedef char16_t ZanWChar;
#endif

// The host's default parameter block (272 bytes).
typedef struct ListDefaultParamStruct {
  int32_t size;
  uint32_t PluginInterfaceVersionLow;
  int32_t PluginInterfaceVersionHi;
  char DefaultIniName[260];
} ListDefaultParamStruct;

ZAN_EXPORT ZanHBITMAP ZAN_STDCALL ListGetPreviewBitmapW(const ZanWChar* FileToLoad, int32_t width, int32_t height,
                                                        char* contentbuf, int32_t contentbuflen);
ZAN_EXPORT ZanHBITMAP ZAN_STDCALL ListGetPreviewBitmap(const char* FileToLoad, int32_t width, int32_t height,
                                                       char* contentbuf, int32_t contentbuflen);
ZAN_EXPORT void ZAN_STDCALL ListSetDefaultParams(ListDefaultParamStruct* dps);
// Fills DetectString (maxlen bytes, the terminating NUL included) with the
// detect expression for the formats the module reads.
ZAN_EXPORT void ZAN_STDCALL ListGetDetectString(char* DetectString, int32_t maxlen);

typedef ZanHBITMAP(ZAN_STDCALL* ListGetPreviewBitmapWProc)(const ZanWChar*, int32_t, int32_t, char*, int32_t);
typedef ZanHBITMAP(ZAN_STDCALL* ListGetPreviewBitmapProc)(const char*, int32_t, int32_t, char*, int32_t);
typedef void(ZAN_STDCALL* ListSetDefaultParamsProc)(ListDefaultParamStruct*);
typedef void(ZAN_STDCALL* ListGetDetectStringProc)(char*, int32_t);

}  // extern "C"

static_assert(sizeof(ListDefaultParamStruct) == 272, "the host's block is 272 bytes");
