// The shared library as the program's loader sees it: loading runs the
// initialise work, unloading the finalise work, and both leave the library
// usable in between, however often it is mapped.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "ZorvikDll.h"

namespace {

struct Library {
    Library() : handle(::dlopen(ZORVIK_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle) ::dlclose(handle);
    }
    template <typename F>
    F* get(const char* name) {
        return reinterpret_cast<F*>(::dlsym(handle, name));
    }
    void* handle;
};

TEST(LibraryLifecycle, LoadsUsesAndUnloadsRepeatedly) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        Library outer;
        ASSERT_NE(outer.handle, nullptr) << ::dlerror();
        {
            Library nested;  // a second mapping of the same library
            ASSERT_NE(nested.handle, nullptr) << ::dlerror();
        }
        auto* scan = outer.get<void()>("ScanComPort");
        auto* para = outer.get<void(ComInfo*)>("GetScanComPortPara");
        auto* status = outer.get<int()>("GetComPort_connected_Status");
        auto* close = outer.get<void()>("COM_Close");
        ASSERT_TRUE(scan && para && status && close);
        EXPECT_EQ(status(), 0);
        scan();
        ComInfo info{};
        info.count = -1;
        para(&info);
        EXPECT_GE(info.count, 0);
        EXPECT_LE(info.count, ZORVIK_MAX_PORTS);
        close();
        EXPECT_EQ(status(), 0);
    }
}

}  // namespace
