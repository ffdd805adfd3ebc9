#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "CommonBase/EntryId.h"
#include "CommonBase/HResultException.h"
#include "winplat/mapi.h"
#include "winplat/windows.h"

namespace {

const GUID kStore = {0x11223344, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00}};
const GUID kObject = {0xA1A2A3A4, 0xB1B2, 0xC1C2, {0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8}};

const std::string kStoreBytes("\x44\x33\x22\x11\x66\x55\x88\x77\x99\xAA\xBB\xCC\xDD\xEE\xFF\x00", 16);
const std::string kObjectBytes("\xA4\xA3\xA2\xA1\xB2\xB1\xC2\xC1\xD1\xD2\xD3\xD4\xD5\xD6\xD7\xD8", 16);

std::string u32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

// The message of what `f` raised, or "<nothing raised>".
std::string raised(const std::function<void()>& f, HRESULT* hr = nullptr) {
    try {
        f();
    } catch (const HResultException& e) {
        if (hr)
            *hr = e.getHResult();
        return e.what();
    }
    return "<nothing raised>";
}

std::string detailOf(const std::string& message) {
    size_t colon = message.find(": ", message.find('\n'));
    return colon == std::string::npos ? std::string() : message.substr(colon + 2);
}

std::string functionOf(const std::string& message) {
    size_t open = message.find("), ");
    size_t end = message.find(":\n");
    return open == std::string::npos || end == std::string::npos ? std::string()
                                                                 : message.substr(open + 3, end - open - 3);
}

std::string raw(unsigned type, size_t size) {
    std::string s = u32(0xFFFFFFFF) + kStoreBytes + u32(type);
    s.resize(size, '\x5A');
    return s;
}

}  // namespace

TEST(EntryId, ExactBytesOfEachForm) {
    const Guid store(&kStore), object(&kObject);
    EntryId storeId(store, 0);
    EXPECT_EQ(storeId.bytes(), u32(0) + kStoreBytes + u32(0));
    EntryId objectId(store, 3, object);
    EXPECT_EQ(objectId.bytes(), u32(0) + kStoreBytes + u32(3) + kObjectBytes);
    EntryId recipient(store, 6, object, 0x01020304);
    EXPECT_EQ(recipient.bytes(), u32(0) + kStoreBytes + u32(6) + kObjectBytes + u32(0x01020304));
    // The child is written only for type 6; a store type takes no object.
    EXPECT_EQ(EntryId(store, 1, object, 7).size(), 40u);
    EXPECT_EQ(EntryId(store, 0, object, 7).size(), 24u);
    EXPECT_EQ(EntryId::build(store, 6, object, 9), recipient.bytes().substr(0, 40) + u32(9));
    EXPECT_EQ(EntryId(Guid(), 0).bytes(), std::string(24, '\0'));

    EXPECT_EQ(raised([&] { EntryId bad(store, 1); }),
              "Exception of class HResultException: CommonBase\\EntryId(41), EntryId::EntryId:\n"
              "0x80070057 E_INVALIDARG");

    EXPECT_EQ(EntryId::fromText("ab").bytes(), std::string("\0\0\0\0ab", 6));
    EXPECT_EQ(EntryId::fromText(nullptr).bytes(), std::string(4, '\0'));
    EXPECT_EQ(EntryId::sizeForType(0), 24u);
    EXPECT_EQ(EntryId::sizeForType(6), 44u);
    EXPECT_EQ(EntryId::sizeForType(4), 40u);
}

TEST(EntryId, CreateHere) {
    unsigned char buffer[44];
    std::memset(buffer, 0xEE, sizeof(buffer));
    EntryId::createHere(buffer, 44, kStore, 6, kObject);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 40), u32(0) + kStoreBytes + u32(6) + kObjectBytes);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer) + 40, 4),
              std::string(4, '\xEE'));  // child untouched
    EntryId::createHere(buffer, 24, kStore, 0, kObject);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 24), u32(0) + kStoreBytes + u32(0));

    HRESULT hr = S_OK;
    std::string m = raised([&] { EntryId::createHere(buffer, 43, kStore, 6, kObject); }, &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
    EXPECT_EQ(functionOf(m), "EntryId::createHere");
    EXPECT_EQ(detailOf(m), "");
    EXPECT_THROW(EntryId::createHere(nullptr, 44, kStore, 0, kObject), HResultException);
}

TEST(EntryId, RawConstructorChecksInOrder) {
    EXPECT_TRUE(EntryId(nullptr, 0u).empty());
    HRESULT hr = S_OK;
    std::string m = raised([] { EntryId e(nullptr, 3u); }, &hr);
    EXPECT_EQ(hr, MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(functionOf(m), "EntryId::EntryId");
    EXPECT_EQ(detailOf(m), "EntryId constructor: size of buffer < 4");
    m = raised([] { EntryId e(nullptr, 4u); });
    EXPECT_EQ(detailOf(m), "EntryId constructor: ID pointer is NULL");

    EntryId target(Guid(&kStore), 0);
    const std::string before = target.bytes();
    m = raised([&] { target.set("abc", 3); });
    EXPECT_EQ(functionOf(m), "EntryId::set");
    EXPECT_EQ(detailOf(m), "EntryId constructor: size of buffer < 4");
    EXPECT_EQ(target.bytes(), before);
    target.set("abcd", 4);  // copied as it is
    EXPECT_EQ(target.bytes(), "abcd");
    target.set(nullptr, 0);
    EXPECT_TRUE(target.empty());

    SBinary bin{0, nullptr};
    EXPECT_TRUE(EntryId(bin).empty());
    bin.cb = 2;
    bin.lpb = reinterpret_cast<LPBYTE>(const_cast<char*>("xy"));
    EXPECT_EQ(detailOf(raised([&] { EntryId e(bin); })), "EntryId constructor: size of buffer < 4");
    bin.cb = 8;
    bin.lpb = nullptr;
    EXPECT_EQ(detailOf(raised([&] { EntryId e(bin); })), "EntryId constructor: lpb is NULL");
}

TEST(EntryId, RawValidityMatrix) {
    struct Case {
        unsigned type;
        size_t size;
        bool valid;
    } cases[] = {
        {0, 24, true},  {0, 40, false}, {1, 40, true}, {2, 40, true},  {3, 40, true},  {5, 40, true},
        {4, 40, false}, {6, 40, false}, {6, 44, true}, {1, 44, false}, {1, 24, false}, {0, 23, false},
    };
    for (const Case& c : cases) {
        std::string id = raw(c.type, c.size);
        EXPECT_EQ(EntryId::isValidEntryId(static_cast<unsigned>(id.size()), id.data()), c.valid)
            << "type " << c.type << " size " << c.size;
        unsigned type = 99;
        EXPECT_EQ(EntryId::getType(static_cast<unsigned>(id.size()), id.data(), &type, false), c.valid);
        EXPECT_EQ(type, c.valid ? c.type : 99u);
        if (!c.valid) {
            HRESULT hr = S_OK;
            std::string m = raised(
                [&] { EntryId::getType(static_cast<unsigned>(id.size()), id.data(), &type, true); }, &hr);
            EXPECT_EQ(hr, MAPI_E_INVALID_ENTRYID);
            EXPECT_EQ(functionOf(m), "EntryId::getType");
        }
    }
    EXPECT_FALSE(EntryId::isValidEntryId(0, nullptr));
    HRESULT hr = S_OK;
    std::string m = raised([] { EntryId::isValidEntryId(24, nullptr); }, &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
    EXPECT_EQ(functionOf(m), "EntryId::isValidEntryId");
}

TEST(EntryId, RawComponentsAndGuids) {
    const Guid store(&kStore), object(&kObject);
    EntryId recipient(store, 6, object, 77);
    Guid s, o(&kStore);
    unsigned type = 0;
    ULONG child = 0;
    ASSERT_TRUE(EntryId::getComponents(recipient.size(), recipient.data(), &s, &type, &o, &child, true));
    EXPECT_EQ(s, store);
    EXPECT_EQ(o, object);
    EXPECT_EQ(type, 6u);
    EXPECT_EQ(child, 77u);

    EntryId storeId(store, 0);
    ASSERT_TRUE(EntryId::getComponents(storeId.size(), storeId.data(), &s, &type, &o, false));
    EXPECT_TRUE(o.isNull());
    EXPECT_EQ(type, 0u);

    Guid got;
    EntryId::getStoreGuid(storeId.size(), storeId.data(), &got);
    EXPECT_EQ(got, store);
    HRESULT hr = S_OK;
    std::string m = raised([&] { EntryId::getObjectGuid(storeId.size(), storeId.data(), &got); }, &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
    EXPECT_EQ(functionOf(m), "EntryId::getObjectGuid");
    EntryId::getObjectGuid(recipient.size(), recipient.data(), &got);
    EXPECT_EQ(got, object);
    std::string bad = raw(4, 40);
    EXPECT_FALSE(EntryId::getComponents(40, bad.data(), &s, &type, &o, false));
    hr = S_OK;
    raised([&] { EntryId::getStoreGuid(40, bad.data(), &got); }, &hr);
    EXPECT_EQ(hr, MAPI_E_INVALID_ENTRYID);
}

TEST(EntryId, Equals) {
    const Guid store(&kStore), object(&kObject);
    std::string a = EntryId(store, 0).bytes();
    std::string b = a;
    b[0] = '\x7F';  // flags differ
    EXPECT_TRUE(EntryId::equals(24, a.data(), 24, b.data(), false));
    std::string r1 = EntryId(store, 6, object, 1).bytes();
    std::string r2 = EntryId(store, 6, object, 2).bytes();
    EXPECT_FALSE(EntryId::equals(44, r1.data(), 44, r2.data(), false));
    EXPECT_TRUE(EntryId::equals(44, r1.data(), 44, r1.data(), false));
    std::string o1 = EntryId(store, 1, object).bytes();
    std::string o2 = EntryId(store, 2, object).bytes();
    EXPECT_FALSE(EntryId::equals(40, o1.data(), 40, o2.data(), false));
    std::string o3 = EntryId(store, 1, Guid()).bytes();
    EXPECT_FALSE(EntryId::equals(40, o1.data(), 40, o3.data(), false));
    std::string invalid = raw(4, 40);
    EXPECT_FALSE(EntryId::equals(40, o1.data(), 40, invalid.data(), false));
    EXPECT_THROW(EntryId::equals(40, o1.data(), 40, invalid.data(), true), HResultException);
}

TEST(EntryId, ValueReadersAndSizeErrors) {
    const Guid store(&kStore), object(&kObject);
    EntryId storeId(store, 0);
    EXPECT_TRUE(storeId.isValid());
    EXPECT_EQ(storeId.getObjectGuid(), store);  // a store names itself
    EXPECT_EQ(storeId.getStoreGuid(), store);
    EXPECT_EQ(storeId.getType(), 0u);

    // Type 4 at 40 bytes passes the value form's size check.
    std::string four = raw(4, 40);
    EntryId typeFour(four.data(), 40u);
    EXPECT_FALSE(typeFour.isValid());
    EXPECT_EQ(typeFour.getType(), 4u);

    struct Case {
        std::string bytes;
        std::string detail;
    } cases[] = {
        {raw(0, 23), "EntryId too small: 23"},
        {raw(0, 4), "EntryId too small: 4"},
        {raw(0, 40), "Invalid size of store EntryId: 40 != 24"},
        {raw(1, 30), "Invalid size of EntryId: 30 != 40"},
        {raw(6, 40), "Invalid size of EntryId: 40 != 44"},
        {raw(5, 44), "Invalid size of EntryId: 44 != 40"},
    };
    for (const Case& c : cases) {
        EntryId id(c.bytes.data(), static_cast<unsigned>(c.bytes.size()));
        HRESULT hr = S_OK;
        std::string m = raised([&] { id.getStoreGuid(); }, &hr);
        EXPECT_EQ(hr, MAPI_E_INVALID_ENTRYID);
        EXPECT_EQ(functionOf(m), "EntryId::getComponents");
        EXPECT_EQ(detailOf(m), c.detail);
    }

    EntryId recipient(store, 6, object, 0xABCDEF01);
    ULONG child = 0;
    EXPECT_TRUE(recipient.getChildId(&child));
    EXPECT_EQ(child, 0xABCDEF01u);
    EXPECT_EQ(recipient.getChildId(), 0xABCDEF01u);
    EntryId objectId(store, 2, object);
    child = 5;
    EXPECT_FALSE(objectId.getChildId(&child));
    EXPECT_EQ(child, 5u);
    std::string m = raised([&] { objectId.getChildId(); });
    EXPECT_EQ(functionOf(m), "EntryId::getChildId");
    EXPECT_EQ(detailOf(m), "It is not EntryId of recipient");
}
