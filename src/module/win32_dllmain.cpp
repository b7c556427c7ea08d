// The module's load and unload on Windows: the format units register when
// the host maps the module and are freed when it goes away. Nothing thrown
// inside ever reaches the loader.
#include <windows.h>

#include "front/pipeline.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      // The module starts no thread; it needs no per-thread notifications.
      DisableThreadLibraryCalls(instance);
      try {
        zan::LoadModule();
      } catch (...) {
      }
      break;
    case DLL_PROCESS_DETACH:
      try {
        zan::UnloadModule();
      } catch (...) {
      }
      break;
    default:
      break;
  }
  return TRUE;
}
