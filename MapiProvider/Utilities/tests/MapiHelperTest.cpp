// Reading one property: MAPI's partial results turned into a value, an error
// code or a raise, with every array not handed out freed.
#include <gtest/gtest.h>

#include <regex>
#include <vector>

#include "CommonBase/HResultException.h"
#include "FakeMapi.h"
#include "MapiProvider/Utilities/MapiHelper.h"

namespace {

constexpr ULONG DatabaseTag = 0x6708001F;

void fillText(SPropValue* array, const wchar_t* text) {
    array->ulPropTag = DatabaseTag;
    size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    void* p = nullptr;
    coTaskMemAllocateMore(static_cast<ULONG>(bytes), array, &p);
    std::memcpy(p, text, bytes);
    array->Value.lpszW = static_cast<wchar_t*>(p);
}

void fillMissing(SPropValue* array) {
    array->ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(DatabaseTag));
    array->Value.err = MAPI_E_NOT_FOUND;
}

struct Logged {
    int category;
    ULONG mask;
    std::string function;
    std::wstring text;
    HRESULT hr;
};

class RecordingLogger : public ILogger {
  public:
    explicit RecordingLogger(bool enabled) : enabled_(enabled) {}
    bool isEnabled(int, ULONG) override {
        ++asked;
        return enabled_;
    }
    HRESULT logException(int, ULONG, const char*, int, const char*, const std::wstring&,
                         const std::exception&) override {
        return S_OK;
    }
    HRESULT logMessage(int category, ULONG mask, const char*, int, const char* function,
                       const std::wstring& text, HRESULT hr) override {
        messages.push_back({category, mask, function, text, hr});
        return S_OK;
    }
    HRESULT logHResult(int, ULONG, const char*, int, const char*, const wchar_t*, HRESULT) override {
        return S_OK;
    }
    ILog* getLog() override { return nullptr; }
    HRESULT queryLog(ILog**) override { return E_POINTER; }
    ULONG reserved() override { return 0; }

    int asked = 0;
    std::vector<Logged> messages;

  private:
    bool enabled_;
};

class MapiHelperTest : public ::testing::Test {
  protected:
    void SetUp() override { live_ = winplat::com::liveTaskMemCount(); }
    void expectNothingLeft() { EXPECT_EQ(winplat::com::liveTaskMemCount(), live_); }

    // The HRESULT and the text of the raise.
    std::pair<HRESULT, std::string> raised(ScriptedProp& prop, bool raiseIfMissing = true,
                                           const LoggerPtr& logger = LoggerPtr()) {
        std::wstring text;
        try {
            Utilities::MapiHelper::getOneProp(&prop, DatabaseTag, text, raiseIfMissing, &allocator_, logger);
        } catch (const HResultException& e) {
            return {e.getHResult(), std::regex_replace(e.what(), std::regex("\\([0-9]+\\)"), "(N)")};
        }
        return {S_OK, ""};
    }

    TaskAllocator allocator_;
    int64_t live_ = 0;
};

std::string raiseText(const std::string& code) {
    return "Exception of class HResultException: Utilities\\MapiHelper(N), "
           "Utilities::MapiHelper::getOneProp:\n" +
           code;
}

}  // namespace

TEST_F(MapiHelperTest, ReadsThePropertysText) {
    ScriptedProp prop;
    prop.fill = [](SPropValue* a) { fillText(a, L"C:\\Data\\Demo.db"); };
    std::wstring text = L"previous";
    EXPECT_TRUE(Utilities::MapiHelper::getOneProp(&prop, DatabaseTag, text, true, &allocator_, LoggerPtr()));
    EXPECT_EQ(text, L"C:\\Data\\Demo.db");
    EXPECT_EQ(prop.askedTag, DatabaseTag);
    EXPECT_EQ(prop.askedFlags, 0u);
    expectNothingLeft();
}

TEST_F(MapiHelperTest, AMissingPropertyRaisesItsCodeWithTheRequestedTag) {
    ScriptedProp prop;
    prop.result = MAPI_W_ERRORS_RETURNED;
    prop.fill = fillMissing;
    auto [hr, what] = raised(prop);
    EXPECT_EQ(hr, MAPI_E_NOT_FOUND);
    EXPECT_EQ(what, raiseText("0x8004010f MAPI_E_NOT_FOUND: Requested property: 0x6708001f"));
    expectNothingLeft();
}

TEST_F(MapiHelperTest, AMissingPropertyWithoutRaiseGivesFalseAndNoText) {
    ScriptedProp prop;
    prop.result = MAPI_W_ERRORS_RETURNED;
    prop.fill = fillMissing;
    std::wstring text = L"previous";
    EXPECT_FALSE(
        Utilities::MapiHelper::getOneProp(&prop, DatabaseTag, text, false, &allocator_, LoggerPtr()));
    EXPECT_EQ(text, L"");
    expectNothingLeft();

    // The value form hands the error element out with the error code.
    SPropValue* values = nullptr;
    EXPECT_EQ(Utilities::MapiHelper::getOneProp(&prop, DatabaseTag, &values, false, &allocator_, LoggerPtr()),
              MAPI_E_NOT_FOUND);
    ASSERT_NE(values, nullptr);
    EXPECT_EQ(PROP_TYPE(values->ulPropTag), PT_ERROR);
    coTaskMemFreeBuffer(values);
    expectNothingLeft();
}

TEST_F(MapiHelperTest, ContractBreachesRaiseAndFreeWhatCameBack) {
    struct Case {
        HRESULT result;
        ULONG count;
        std::function<void(SPropValue*)> fill;
        HRESULT raised;
        std::string code;
    };
    const std::vector<Case> cases = {
        {E_OUTOFMEMORY, 0, nullptr, E_OUTOFMEMORY, "0x8007000e E_OUTOFMEMORY"},
        {S_OK, 2, [](SPropValue* a) { fillText(a, L"x"); }, E_FAIL, "0x80004005 E_FAIL"},
        {S_OK, 1, nullptr, E_FAIL, "0x80004005 E_FAIL"},
        {MAPI_W_ERRORS_RETURNED, 1, [](SPropValue* a) { fillText(a, L"x"); }, E_FAIL, "0x80004005 E_FAIL"},
    };
    for (const Case& c : cases) {
        ScriptedProp prop;
        prop.result = c.result;
        prop.answerCount = c.count;
        prop.fill = c.fill;
        auto [hr, what] = raised(prop);
        EXPECT_EQ(hr, c.raised);
        EXPECT_EQ(what, raiseText(c.code));
        expectNothingLeft();
    }
}

TEST_F(MapiHelperTest, NullObjectOrOutIsAnInvalidArgument) {
    SPropValue* values = nullptr;
    ScriptedProp prop;
    for (auto call :
         {std::function<void()>([&] {
              Utilities::MapiHelper::getOneProp(nullptr, DatabaseTag, &values, true, nullptr, LoggerPtr());
          }),
          std::function<void()>([&] {
              Utilities::MapiHelper::getOneProp(&prop, DatabaseTag, nullptr, true, nullptr, LoggerPtr());
          })}) {
        try {
            call();
            ADD_FAILURE() << "no raise";
        } catch (const HResultException& e) {
            EXPECT_EQ(e.getHResult(), E_INVALIDARG);
        }
    }
}

TEST_F(MapiHelperTest, LogsOnlyThroughAnEnabledLogger) {
    ScriptedProp prop;
    prop.result = MAPI_W_ERRORS_RETURNED;
    prop.fill = fillMissing;

    auto enabled = boost::shared_ptr<RecordingLogger>(new RecordingLogger(true));
    raised(prop, false, enabled);
    ASSERT_EQ(enabled->messages.size(), 1u);
    EXPECT_EQ(enabled->messages[0].category, 1);
    EXPECT_EQ(enabled->messages[0].mask, 0x100u);
    EXPECT_EQ(enabled->messages[0].function, "Utilities::MapiHelper::getOneProp");
    EXPECT_EQ(enabled->messages[0].text, L"Missing property 0x6708001f");
    EXPECT_EQ(enabled->messages[0].hr, MAPI_E_NOT_FOUND);

    auto disabled = boost::shared_ptr<RecordingLogger>(new RecordingLogger(false));
    raised(prop, true, disabled);
    EXPECT_EQ(disabled->asked, 1);
    EXPECT_TRUE(disabled->messages.empty());
    expectNothingLeft();
}

TEST(PropTagsMatch, SameIdWithAnUnspecifiedOrBothStringTypes) {
    EXPECT_TRUE(Utilities::propTagsMatch(0x6708001F, 0x6708001F));
    EXPECT_TRUE(Utilities::propTagsMatch(0x6708001F, 0x6708001E));
    EXPECT_TRUE(Utilities::propTagsMatch(0x67080003, 0x67080000));
    EXPECT_TRUE(Utilities::propTagsMatch(0x67080000, 0x6708001E));
    EXPECT_FALSE(Utilities::propTagsMatch(0x6708001F, 0x6709001F));
    // A string never matches a number of the same id.
    EXPECT_FALSE(Utilities::propTagsMatch(0x6708001F, 0x67080003));
    EXPECT_FALSE(Utilities::propTagsMatch(0x67080102, 0x6708001E));
}
