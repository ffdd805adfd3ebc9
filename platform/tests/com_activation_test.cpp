#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <thread>
#include <vector>

#include "com_testserver.h"
#include "winplat/com.h"
#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/modules.h"
#include "winplat/registry.h"

namespace {

using winplat::com::Apartment;

std::wstring wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

std::wstring modulePath(const char* name) {
    return wide(std::string(WINPLAT_TESTMOD_DIR) + "/" + name);
}

std::wstring guidText(REFGUID g) {
    WCHAR buf[39];
    EXPECT_EQ(StringFromGUID2(g, buf, 39), 39);
    return buf;
}

void setDefault(const std::wstring& path, const std::wstring& value, DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, nullptr, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

long liveServerObjects() {
    HMODULE server = GetModuleHandleW(L"com_server.so");
    if (server == nullptr) {
        return 0;
    }
    auto fn = reinterpret_cast<ComTestLiveObjectsFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(server, "comTestLiveObjects")));
    return fn != nullptr ? fn() : -1;
}

// Each test starts from an empty registry that lives in the process, and
// inside a single-threaded apartment.
class ComActivation : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("WINPLAT_REGISTRY");
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        keysBefore_ = winplat::registry::openKeyCount();
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    }
    void TearDown() override {
        CoUninitialize();
        winplat::registry::reload();
        winplat::inject::reset();
    }
    static std::wstring classKey(REFCLSID clsid) { return L"CLSID\\" + guidText(clsid); }
    size_t keysBefore_ = 0;
};

TEST(ComApartment, CountsPerThreadAndRefusesAnotherKind) {
    ASSERT_EQ(winplat::com::currentApartment(), Apartment::None);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(winplat::com::apartmentInitCount(), 2u);
    EXPECT_EQ(winplat::com::currentApartment(), Apartment::SingleThreaded);

    std::thread other([] {
        EXPECT_EQ(winplat::com::currentApartment(), Apartment::None);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE), S_FALSE);
        EXPECT_EQ(winplat::com::currentApartment(), Apartment::MultiThreaded);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(winplat::com::currentApartment(), Apartment::None);
    });
    other.join();

    CoUninitialize();
    EXPECT_EQ(winplat::com::currentApartment(), Apartment::SingleThreaded);
    CoUninitialize();
    EXPECT_EQ(winplat::com::currentApartment(), Apartment::None);
    CoUninitialize();  // unbalanced: no effect
    EXPECT_EQ(winplat::com::apartmentInitCount(), 0u);
    // Once left, the thread may enter the other kind.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();

    int reserved = 0;
    EXPECT_EQ(CoInitializeEx(&reserved, COINIT_APARTMENTTHREADED), E_INVALIDARG);
    EXPECT_EQ(winplat::com::currentApartment(), Apartment::None);

    winplat::inject::Scope scope;
    winplat::inject::arm("CoInitializeEx", E_OUTOFMEMORY);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), E_OUTOFMEMORY);
    EXPECT_EQ(winplat::com::currentApartment(), Apartment::None);
}

TEST(ComActivationNoApartment, CreateInstanceNeedsAnApartment) {
    ASSERT_EQ(winplat::com::currentApartment(), Apartment::None);
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestThing, nullptr, CLSCTX_ALL, IID_IUnknown, &out),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CoGetClassObject(CLSID_ComTestThing, CLSCTX_ALL, nullptr, IID_IClassFactory, &out),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestThing, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ComActivation, InProcessServerThroughTheRegistry) {
    setDefault(classKey(CLSID_ComTestThing) + L"\\InprocServer32", modulePath("com_server.so"));
    IComTestThing* thing = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_ComTestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IComTestThing,
                               reinterpret_cast<void**>(&thing)),
              S_OK);
    ASSERT_NE(thing, nullptr);
    EXPECT_EQ(thing->value(), 42u);
    EXPECT_EQ(liveServerObjects(), 1);  // the factory is gone
    thing->Release();
    EXPECT_EQ(liveServerObjects(), 0);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_ComTestThing, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    IUnknown* unknown = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    unknown->Release();
    factory->Release();
    EXPECT_EQ(liveServerObjects(), 0);

    // The object's own refusal comes back unchanged, and nothing leaks.
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IStream, &out),
              E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(liveServerObjects(), 0);
}

TEST_F(ComActivation, ExpandablePathIsExpanded) {
    setenv("WINPLAT_COMTEST_DIR", WINPLAT_TESTMOD_DIR, 1);
    setDefault(classKey(CLSID_ComTestThing) + L"\\InprocServer32", L"%WINPLAT_COMTEST_DIR%/com_server.so",
               REG_EXPAND_SZ);
    IUnknown* unknown = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestThing, nullptr, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(&unknown)),
              S_OK);
    if (unknown != nullptr) {
        unknown->Release();
    }
    unsetenv("WINPLAT_COMTEST_DIR");
}

TEST_F(ComActivation, RegistrationErrors) {
    void* out = reinterpret_cast<void*>(0x1);
    // Nothing registered.
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestThing, nullptr, CLSCTX_ALL, IID_IUnknown, &out),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(out, nullptr);
    // Registered in-process only, asked for a local server.
    setDefault(classKey(CLSID_ComTestThing) + L"\\InprocServer32", modulePath("com_server.so"));
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestThing, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &out),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestThing, nullptr, 0, IID_IUnknown, &out), E_INVALIDARG);
    // A module that does not exist.
    setDefault(classKey(CLSID_ComTestRefused) + L"\\InprocServer32", modulePath("com_missing.so"));
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestRefused, nullptr, CLSCTX_ALL, IID_IUnknown, &out),
              HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(out, nullptr);
    // A module without DllGetClassObject.
    setDefault(classKey(CLSID_ComTestRefused) + L"\\InprocServer32", modulePath("com_noentry.so"));
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestRefused, nullptr, CLSCTX_ALL, IID_IUnknown, &out),
              CO_E_ERRORINDLL);
    // A server that does not make that class: its answer passes through.
    setDefault(classKey(CLSID_ComTestRefused) + L"\\InprocServer32", modulePath("com_server.so"));
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestRefused, nullptr, CLSCTX_ALL, IID_IUnknown, &out),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(liveServerObjects(), 0);
    EXPECT_EQ(winplat::registry::openKeyCount(), keysBefore_);
}

TEST_F(ComActivation, LocalServerRunsInProcessAndLoadsItsProxyStub) {
    setDefault(classKey(CLSID_ComTestThing) + L"\\LocalServer32",
               L"\"" + modulePath("com_server.so") + L"\" -Embedding");
    setDefault(L"Interface\\" + guidText(IID_IComTestThing) + L"\\ProxyStubClsid32",
               guidText(CLSID_ComTestProxy));
    setDefault(classKey(CLSID_ComTestProxy) + L"\\InprocServer32", modulePath("com_proxy.so"));

    ASSERT_EQ(GetModuleHandleW(L"com_proxy.so"), nullptr);
    IComTestThing* thing = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_ComTestThing, nullptr, CLSCTX_ALL, IID_IComTestThing,
                               reinterpret_cast<void**>(&thing)),
              S_OK);
    EXPECT_EQ(thing->value(), 42u);
    HMODULE proxy = GetModuleHandleW(L"COM_PROXY.SO");
    ASSERT_NE(proxy, nullptr);
    EXPECT_NE(GetProcAddress(proxy, "comTestProxyMarker"), nullptr);
    thing->Release();
    EXPECT_EQ(liveServerObjects(), 0);
    // It stays loaded.
    EXPECT_EQ(GetModuleHandleW(L"com_proxy.so"), proxy);

    // No aggregation across processes.
    IUnknown* outer = reinterpret_cast<IUnknown*>(thing);
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestThing, outer, CLSCTX_LOCAL_SERVER, IID_IUnknown, &out),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    // IUnknown needs no proxy/stub; an interface without one cannot cross.
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestThing, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &out), S_OK);
    static_cast<IUnknown*>(out)->Release();
    out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestThing, nullptr, CLSCTX_LOCAL_SERVER, IID_IComTestUnproxied, &out),
              E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(liveServerObjects(), 0);
    EXPECT_EQ(winplat::registry::openKeyCount(), keysBefore_);
}

TEST_F(ComActivation, LocalServerProxyStubModuleMissing) {
    setDefault(classKey(CLSID_ComTestThing) + L"\\LocalServer32", modulePath("com_server.so"));
    setDefault(L"Interface\\" + guidText(IID_IComTestThing) + L"\\ProxyStubClsid32",
               guidText(CLSID_ComTestProxy));
    setDefault(classKey(CLSID_ComTestProxy) + L"\\InprocServer32", modulePath("com_missing_ps.so"));
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestThing, nullptr, CLSCTX_ALL, IID_IComTestThing, &out),
              HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(liveServerObjects(), 0);
}

TEST_F(ComActivation, InjectedFailure) {
    setDefault(classKey(CLSID_ComTestThing) + L"\\InprocServer32", modulePath("com_server.so"));
    winplat::inject::arm("CoCreateInstance", E_OUTOFMEMORY);
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestThing, nullptr, CLSCTX_ALL, IID_IUnknown, &out), E_OUTOFMEMORY);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(CoCreateInstance(CLSID_ComTestThing, nullptr, CLSCTX_ALL, IID_IUnknown, &out), S_OK);
    static_cast<IUnknown*>(out)->Release();
}

}  // namespace
