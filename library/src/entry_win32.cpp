// The DLL's entry point: process attach and detach run the library's
// initialise and finalise; every notification reports success.
#include <windows.h>

#include "library_lifecycle.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    const unsigned notification = reason == DLL_PROCESS_ATTACH   ? 1u
                                  : reason == DLL_PROCESS_DETACH ? 0u
                                                                 : 2u;
    return zorvik::library_entry(notification) ? TRUE : FALSE;
}
