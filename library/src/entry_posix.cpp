// The shared object's load and unload notifications.
#include "library_lifecycle.h"

__attribute__((constructor)) static void zorvik_library_load() {
    zorvik::library_entry(1);
}

__attribute__((destructor)) static void zorvik_library_unload() {
    zorvik::library_entry(0);
}
