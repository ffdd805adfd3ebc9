// Handing the MAPI memory routines to the backend's proxy/stub module.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "CommonBase/HResultException.h"
#include "MapiProvider/Utilities/MapiStubs.h"
#include "MapiProvider/Utilities/Support.h"
#include "demo/World.h"
#include "winplat/inject.h"
#include "winplat/windows.h"

namespace {

// The HRESULT raised, or S_OK.
HRESULT call(LPALLOCATEBUFFER a = MAPIAllocateBuffer, LPALLOCATEMORE m = MAPIAllocateMore,
             LPFREEBUFFER f = MAPIFreeBuffer, std::string* what = nullptr) {
    try {
        Utilities::Support::setAllocationFunctions(a, m, f);
    } catch (const HResultException& e) {
        if (what) {
            *what = std::regex_replace(e.what(), std::regex("\\([0-9]+\\)"), "(N)");
        }
        return e.getHResult();
    }
    return S_OK;
}

// Loads a module for the life of the object.
class Loaded {
  public:
    explicit Loaded(const std::string& path) : module_(LoadLibraryW(winplat::utf8ToUtf16(path).c_str())) {}
    ~Loaded() {
        if (module_) {
            FreeLibrary(module_);
        }
    }
    HMODULE get() const { return module_; }

  private:
    HMODULE module_;
};

}  // namespace

TEST(Support, NullRoutinesAreInvalidArguments) {
    EXPECT_EQ(call(nullptr), E_INVALIDARG);
    EXPECT_EQ(call(MAPIAllocateBuffer, nullptr), E_INVALIDARG);
    EXPECT_EQ(call(MAPIAllocateBuffer, MAPIAllocateMore, nullptr), E_INVALIDARG);
}

TEST(Support, BeforeTheServerIsCreatedTheModuleIsNotThere) {
    ASSERT_EQ(GetModuleHandleW(L"HollomarPS"), nullptr);
    std::string what;
    EXPECT_EQ(call(MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, &what),
              static_cast<HRESULT>(0x8007007Eu));
    EXPECT_EQ(what,
              "Exception of class HResultException: Utilities\\Support(N), "
              "Utilities::Support::setAllocationFunctions:\n0x8007007e");
}

// A failed lookup that leaves no last error must not read as success.
TEST(Support, ALookupFailingWithoutALastErrorIsEFail) {
    winplat::inject::Scope scope;
    winplat::inject::arm("GetModuleHandleW", 0);
    EXPECT_EQ(call(), E_FAIL);
}

TEST(Support, AModuleWithoutTheExport) {
    Loaded ps(std::string(STORESET_TESTMOD_DIR) + "/noexport/HollomarPS.dll");
    ASSERT_NE(ps.get(), nullptr);
    EXPECT_EQ(call(), static_cast<HRESULT>(0x8007007Fu));
}

TEST(Support, TheModuleReceivesTheRoutinesAndItsFailureIsRaised) {
    Loaded ps(world::standinFolder() + "/HollomarPS.dll");
    ASSERT_NE(ps.get(), nullptr);
    EXPECT_EQ(call(), S_OK);
    typedef HRESULT (*Get)(LPALLOCATEBUFFER*, LPALLOCATEMORE*, LPFREEBUFFER*);
    auto get = reinterpret_cast<Get>(
        reinterpret_cast<void (*)()>(GetProcAddress(ps.get(), "standinGetAllocationFunctions")));
    LPALLOCATEBUFFER a = nullptr;
    LPALLOCATEMORE m = nullptr;
    LPFREEBUFFER f = nullptr;
    ASSERT_EQ(get(&a, &m, &f), S_OK);
    EXPECT_EQ(a, &MAPIAllocateBuffer);
    EXPECT_EQ(m, &MAPIAllocateMore);
    EXPECT_EQ(f, &MAPIFreeBuffer);

    winplat::inject::Scope scope;
    winplat::inject::arm("HollomarPS!setAllocationFunctions", static_cast<uint32_t>(E_ACCESSDENIED));
    EXPECT_EQ(call(), E_ACCESSDENIED);
}
