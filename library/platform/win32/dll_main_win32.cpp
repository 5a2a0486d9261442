// The entry point of ZorvikDll.dll.
//
// The library's use-counted initialise and finalise run from its static
// constructor and destructor, which the C runtime's DLL start-up code calls
// on the first process attach and the last process detach, around this
// function. So the entry point has nothing left to do: it reports success for
// every notification, the first attach included.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
