// Stream data back-ends: memory, temporary file, adaptive.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "CommonBase/HResultException.h"
#include "CommonBase/StreamData.h"
#include "TempFolder.h"
#include "winplat/inject.h"

namespace {

// Records the notices of one back-end.
class Recorder : public iui_::IUnknownImpl<IStreamDataCallbacks> {
  public:
    STDMETHOD(onCommit)(IStreamData* source) override {
        events.push_back("commit");
        sources.push_back(source);
        return S_OK;
    }
    STDMETHOD(onSizeChanged)(IStreamData* source, ULONGLONG size) override {
        events.push_back("size " + std::to_string(size));
        sources.push_back(source);
        return S_OK;
    }
    std::vector<std::string> events;
    std::vector<IStreamData*> sources;
};

// Owns one reference to a back-end.
struct Data {
    IStreamData* p = nullptr;
    ~Data() {
        if (p) {
            p->Release();
        }
    }
    IStreamData* operator->() const { return p; }
};

std::string readAll(IStreamData* data) {
    ULONGLONG size = 0;
    EXPECT_EQ(data->getSize(&size), S_OK);
    std::string content(static_cast<size_t>(size), '\0');
    ULONG got = 0;
    EXPECT_EQ(data->read(content.data(), static_cast<ULONG>(size), 0, &got), S_OK);
    EXPECT_EQ(got, size);
    return content;
}

std::string pattern(size_t n, unsigned seed = 1) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>((i * 131 + seed * 7 + i / 977) & 0xFF);
    }
    return s;
}

MemoryStreamData* memory(IStreamData* data) {
    return static_cast<MemoryStreamData*>(data);
}

}  // namespace

TEST(MemoryStreamData, GrowthFollowsTheWriteEnd) {
    Data data;
    ASSERT_EQ(MemoryStreamData::create(0, nullptr, &data.p), S_OK);
    ULONG done = 0;
    EXPECT_EQ(data->write("0123456789", 10, 0, &done), S_OK);
    EXPECT_EQ(done, 10u);
    EXPECT_EQ(memory(data.p)->capacity(), 1035u);  // 11 + 1024

    EXPECT_EQ(data->setSize(2000000), S_OK);
    EXPECT_EQ(memory(data.p)->capacity(), 2000000u);
    std::string block(100, 'b');
    EXPECT_EQ(data->write(block.data(), 100, 2000000, &done), S_OK);
    EXPECT_EQ(memory(data.p)->capacity(), 2u * 2000101u);
    EXPECT_EQ(data->setSize(2000000), S_OK);
    EXPECT_EQ(memory(data.p)->capacity(), 4000202u);  // shrinking keeps the capacity

    Data big;
    ASSERT_EQ(MemoryStreamData::create(0, nullptr, &big.p), S_OK);
    big->setSize(2000000);
    std::string large(600000, 'l');
    EXPECT_EQ(big->write(large.data(), 600000, 2000000, &done), S_OK);
    EXPECT_EQ(memory(big.p)->capacity(), 2600001u + 5000000u);
}

TEST(MemoryStreamData, WritesFarPastTheEndStayInsideTheBuffer) {
    Data data;
    ASSERT_EQ(MemoryStreamData::create(0, nullptr, &data.p), S_OK);
    ULONG done = 0;
    data->write("abc", 3, 0, &done);
    ULONGLONG far = memory(data.p)->capacity() + 10000;
    EXPECT_EQ(data->write("xyz", 3, far, &done), S_OK);
    EXPECT_GE(memory(data.p)->capacity(), far + 3);
    std::string content = readAll(data.p);
    ASSERT_EQ(content.size(), far + 3);
    EXPECT_EQ(content.substr(0, 3), "abc");
    EXPECT_EQ(content.substr(3, far - 3), std::string(far - 3, '\0'));  // the gap reads as zeros
    EXPECT_EQ(content.substr(far), "xyz");

    // A write of nothing changes nothing, however far away.
    EXPECT_EQ(data->write("", 0, 50000000, &done), S_OK);
    EXPECT_EQ(done, 0u);
    ULONGLONG size = 0;
    data->getSize(&size);
    EXPECT_EQ(size, far + 3);

    // Ends that wrap or leave 32 bits are refused before the buffer is touched.
    ULONGLONG capacity = memory(data.p)->capacity();
    EXPECT_EQ(data->write("1234", 4, ~0ull - 3, &done), STG_E_MEDIUMFULL);
    EXPECT_EQ(data->write("1234", 4, 0xFFFFFFFEull, &done), STG_E_MEDIUMFULL);
    EXPECT_EQ(memory(data.p)->capacity(), capacity);
    data->getSize(&size);
    EXPECT_EQ(size, far + 3);
}

TEST(MemoryStreamData, SetSizeReallySetsTheSize) {
    Data data;
    ASSERT_EQ(MemoryStreamData::create(0, nullptr, &data.p), S_OK);
    Recorder* recorder = new Recorder;
    DWORD cookie = 0;
    data->registerCallback(recorder, &cookie);
    ULONG done = 0;
    data->write("abcdef", 6, 0, &done);
    ULONGLONG capacity = memory(data.p)->capacity();
    ASSERT_EQ(data->setSize(capacity + 5000), S_OK);
    EXPECT_EQ(memory(data.p)->capacity(), capacity + 5000);
    std::string content = readAll(data.p);
    ASSERT_EQ(content.size(), capacity + 5000);
    EXPECT_EQ(content.substr(6), std::string(content.size() - 6, '\0'));
    EXPECT_EQ(recorder->events.back(), "size " + std::to_string(capacity + 5000));

    // Bytes cut off and grown back come back as zeros.
    data->setSize(2);
    data->setSize(6);
    EXPECT_EQ(readAll(data.p), std::string("ab\0\0\0\0", 6));

    // Beyond 32 bits: refused, nothing changes.
    ULONGLONG before = memory(data.p)->capacity();
    EXPECT_EQ(data->setSize(4294967296ull), STG_E_MEDIUMFULL);
    EXPECT_EQ(memory(data.p)->capacity(), before);
    ULONGLONG size = 0;
    data->getSize(&size);
    EXPECT_EQ(size, 6u);
    data->unregisterCallback(cookie);
    recorder->Release();
}

TEST(MemoryStreamData, ReadsStatAndArguments) {
    Data data;
    ASSERT_EQ(MemoryStreamData::create(0, nullptr, &data.p), S_OK);
    ULONG done = 99;
    data->write("hello", 5, 0, &done);
    char buffer[8] = {};
    EXPECT_EQ(data->read(buffer, 8, 5, &done), S_OK);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(data->read(buffer, 8, 500, &done), S_OK);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(data->read(buffer, 8, 2, &done), S_OK);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(std::string(buffer, 3), "llo");
    EXPECT_EQ(data->read(nullptr, 1, 0, &done), STG_E_INVALIDPOINTER);
    EXPECT_EQ(data->write(nullptr, 1, 0, &done), STG_E_INVALIDPOINTER);
    EXPECT_EQ(data->getSize(nullptr), E_POINTER);
    EXPECT_EQ(data->getFlags(nullptr), E_POINTER);
    EXPECT_EQ(data->lockRegion(0, 1, LOCK_WRITE), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(data->unlockRegion(0, 1, LOCK_WRITE), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(data->revert(), S_OK);

    STATSTG stat;
    std::memset(&stat, 0x55, sizeof(stat));
    EXPECT_EQ(data->_stat64(&stat, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(stat.type, static_cast<DWORD>(STGTY_STREAM));
    EXPECT_EQ(stat.cbSize.QuadPart, 5u);
    EXPECT_EQ(stat.grfMode, 18u);
    EXPECT_EQ(stat.pwcsName, nullptr);
    EXPECT_EQ(stat.grfLocksSupported, 0u);
    EXPECT_NE(stat.mtime.dwHighDateTime, 0u);
    EXPECT_EQ(data->_stat64(&stat, 2), STG_E_INVALIDFLAG);
    EXPECT_EQ(data->_stat64(nullptr, 0), STG_E_INVALIDPOINTER);

    DWORD old = 7;
    EXPECT_EQ(data->setFlags(kStreamDataAutoCommit, &old), S_OK);
    EXPECT_EQ(old, 0u);
    DWORD flags = 0;
    EXPECT_EQ(data->getFlags(&flags), S_OK);
    EXPECT_EQ(flags, kStreamDataAutoCommit);
}

TEST(StreamDataCallbacks, OrderInitBracketAutoCommitAndReadOnly) {
    Data data;
    ASSERT_EQ(MemoryStreamData::create(kStreamDataAutoCommit, nullptr, &data.p), S_OK);
    Recorder* first = new Recorder;
    Recorder* second = new Recorder;
    DWORD c1 = 0, c2 = 0;
    EXPECT_EQ(data->registerCallback(first, &c1), S_OK);
    EXPECT_EQ(data->registerCallback(second, &c2), S_OK);
    EXPECT_EQ(c1, 1u);
    EXPECT_EQ(c2, 2u);
    EXPECT_EQ(data->registerCallback(nullptr, &c1), E_INVALIDARG);
    EXPECT_EQ(data->registerCallback(first, nullptr), E_POINTER);

    ULONG done = 0;
    data->write("ab", 2, 0, &done);
    EXPECT_EQ(first->events, (std::vector<std::string>{"size 2", "commit"}));
    EXPECT_EQ(second->events, first->events);
    EXPECT_EQ(first->sources[0], data.p);
    data->write("c", 1, 0, &done);  // no size change, one commit
    EXPECT_EQ(first->events.back(), "commit");
    EXPECT_EQ(first->events.size(), 3u);

    data->beginInit();
    data->beginInit();
    data->write("defg", 4, 0, &done);
    data->endInit();
    data->write("h", 1, 0, &done);
    EXPECT_EQ(first->events.size(), 3u);  // nested brackets still hold
    data->endInit();
    data->endInit();  // below 0 it stays 0
    data->write("i", 1, 0, &done);
    EXPECT_EQ(first->events.size(), 4u);

    EXPECT_EQ(data->unregisterCallback(c1), S_OK);
    EXPECT_EQ(data->unregisterCallback(c1), E_INVALIDARG);
    DWORD c3 = 0;
    data->registerCallback(first, &c3);
    EXPECT_EQ(c3, 3u);  // cookies are never reused

    data->setFlags(kStreamDataReadOnly, nullptr);
    EXPECT_EQ(data->write("x", 1, 0, &done), STG_E_ACCESSDENIED);
    EXPECT_EQ(data->setSize(0), STG_E_ACCESSDENIED);
    size_t seen = second->events.size();
    EXPECT_EQ(data->commit(0), S_OK);
    EXPECT_EQ(second->events.size(), seen);
    EXPECT_EQ(readAll(data.p), "iefg");

    data->unregisterCallback(c2);
    data->unregisterCallback(c3);
    first->Release();
    second->Release();
}

namespace {
// Unregisters itself from inside its first notice.
class SelfRemover : public iui_::IUnknownImpl<IStreamDataCallbacks> {
  public:
    STDMETHOD(onCommit)(IStreamData*) override { return S_OK; }
    STDMETHOD(onSizeChanged)(IStreamData* source, ULONGLONG) override {
        ++calls;
        source->unregisterCallback(cookie);
        return S_OK;
    }
    DWORD cookie = 0;
    int calls = 0;
};
}  // namespace

TEST(StreamDataCallbacks, AListenerMayLeaveWhileBeingTold) {
    Data data;
    ASSERT_EQ(MemoryStreamData::create(0, nullptr, &data.p), S_OK);
    SelfRemover* remover = new SelfRemover;
    Recorder* after = new Recorder;
    DWORD cookie = 0;
    data->registerCallback(remover, &remover->cookie);
    data->registerCallback(after, &cookie);
    ULONG done = 0;
    data->write("a", 1, 0, &done);
    data->write("bb", 2, 0, &done);
    EXPECT_EQ(remover->calls, 1);
    EXPECT_EQ(after->events, (std::vector<std::string>{"size 1", "size 2"}));
    data->unregisterCallback(cookie);
    remover->Release();
    after->Release();
}

TEST(TempFileStreamData, FileLivesWithTheBackEnd) {
    TempFolder folder;
    std::wstring name;
    {
        Data data;
        ASSERT_EQ(TempFileStreamData::create(0, nullptr, &data.p), S_OK);
        std::vector<std::string> files = folder.files();
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0].substr(0, 3), "TAV");
        Recorder* recorder = new Recorder;
        DWORD cookie = 0;
        data->registerCallback(recorder, &cookie);
        std::string content = pattern(3000);
        ULONG done = 0;
        EXPECT_EQ(data->write(content.data(), 3000, 0, &done), S_OK);
        EXPECT_EQ(done, 3000u);
        EXPECT_EQ(data->write("tail", 4, 5000, &done), S_OK);
        ULONGLONG size = 0;
        EXPECT_EQ(data->getSize(&size), S_OK);
        EXPECT_EQ(size, 5004u);
        char buffer[10];
        EXPECT_EQ(data->read(buffer, 10, 5004, &done), S_OK);
        EXPECT_EQ(done, 0u);
        EXPECT_EQ(data->setSize(100), S_OK);
        EXPECT_EQ(readAll(data.p), content.substr(0, 100));
        EXPECT_EQ(data->commit(0), S_OK);
        EXPECT_EQ(data->commit(0), S_OK);
        // Only commits are told: the file never reports size changes.
        EXPECT_EQ(recorder->events, std::vector<std::string>{"commit"});
        STATSTG stat{};
        EXPECT_EQ(data->_stat64(&stat, STATFLAG_NONAME), S_OK);
        EXPECT_EQ(stat.cbSize.QuadPart, 100u);
        EXPECT_EQ(stat.grfMode, 18u);
        EXPECT_EQ(stat.pwcsName, nullptr);
        EXPECT_EQ(data->_stat64(&stat, 2), STG_E_INVALIDFLAG);
        data->setFlags(kStreamDataReadOnly, nullptr);
        EXPECT_EQ(data->write("x", 1, 0, &done), STG_E_ACCESSDENIED);
        EXPECT_EQ(data->setSize(0), STG_E_ACCESSDENIED);
        data->unregisterCallback(cookie);
        recorder->Release();
    }
    EXPECT_TRUE(folder.files().empty());
}

TEST(TempFileStreamData, CreationFailuresGiveNoObject) {
    {
        TempFolder folder;
        Stream::Init::setTempPath(folder.path() + "/missing");
        IStreamData* data = nullptr;
        HRESULT hr = TempFileStreamData::create(0, nullptr, &data);
        EXPECT_TRUE(FAILED(hr));
        EXPECT_EQ(data, nullptr);
    }
    {
        TempFolder folder;
        winplat::inject::Scope scope;
        winplat::inject::arm("CreateFileW", ERROR_ACCESS_DENIED);
        IStreamData* data = nullptr;
        EXPECT_EQ(TempFileStreamData::create(0, nullptr, &data), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
        EXPECT_EQ(data, nullptr);
        EXPECT_TRUE(folder.files().empty());  // the name made for it is gone again
    }
    {
        // A failure that sets no error code must not pass for success.
        TempFolder folder;
        winplat::inject::Scope scope;
        winplat::inject::arm("GetTempFileNameW", 0);
        IStreamData* data = nullptr;
        EXPECT_EQ(TempFileStreamData::create(0, nullptr, &data), E_FAIL);
        EXPECT_EQ(data, nullptr);
    }
    {
        winplat::inject::Scope scope;
        winplat::inject::arm("GetTempPathW", ERROR_PATH_NOT_FOUND);
        IStreamData* data = nullptr;
        EXPECT_EQ(TempFileStreamData::create(0, nullptr, &data), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    }
    EXPECT_EQ(TempFileStreamData::create(0, nullptr, nullptr), E_POINTER);
}

TEST(TempFileStreamData, FileErrorsAndTheMissingFile) {
    TempFolder folder;
    Data data;
    ASSERT_EQ(TempFileStreamData::create(0, nullptr, &data.p), S_OK);
    winplat::inject::Scope scope;
    winplat::inject::arm("WriteFile", ERROR_DISK_FULL);
    ULONG done = 0;
    EXPECT_EQ(data->write("abc", 3, 0, &done), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    winplat::inject::arm("GetFileSizeEx", ERROR_INVALID_HANDLE);
    ULONGLONG size = 0;
    EXPECT_EQ(data->getSize(&size), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));

    detail::TemporaryFile unopened;
    TempFileStreamData::ValidatedFilePtr file(unopened);
    try {
        file->handle();
        FAIL() << "no exception";
    } catch (const HResultException& e) {
        EXPECT_EQ(e.getHResult(), E_HANDLE);
        EXPECT_NE(std::string(e.what()).find("TempFileStreamData::ValidatedFilePtr::operator ->:"),
                  std::string::npos);
        EXPECT_NE(std::string(e.what()).find("Temporary file is not initialized"), std::string::npos);
    }
}

TEST(StreamDataCopy, CopiesAcrossChunkBorders) {
    TempFolder folder;
    Data source, target;
    ASSERT_EQ(MemoryStreamData::create(0, nullptr, &source.p), S_OK);
    ASSERT_EQ(TempFileStreamData::create(0, nullptr, &target.p), S_OK);
    std::string content = pattern(2500000, 3);
    ULONG done = 0;
    source->write(content.data(), static_cast<ULONG>(content.size()), 0, &done);
    target->write("stale content beyond", 20, 2600000, &done);
    EXPECT_EQ(source->copyTo(target.p), S_OK);
    EXPECT_EQ(readAll(target.p), content);
    EXPECT_EQ(source->copyTo(nullptr), E_INVALIDARG);

    // A target that takes nothing fails the copy.
    Data readOnly;
    ASSERT_EQ(MemoryStreamData::create(0, nullptr, &readOnly.p), S_OK);
    readOnly->setFlags(kStreamDataReadOnly, nullptr);
    EXPECT_EQ(source->copyTo(readOnly.p), STG_E_ACCESSDENIED);
}

TEST(AdaptiveStreamData, MovesAtTheThresholdAndBack) {
    TempFolder folder;
    Data data;
    ASSERT_EQ(AdaptiveStreamData::create(0, nullptr, &data.p, 2000000), S_OK);
    auto* adaptive = static_cast<AdaptiveStreamData*>(data.p);
    EXPECT_EQ(adaptive->mode(), AdaptiveStreamData::NoData);
    Recorder* recorder = new Recorder;
    DWORD cookie = 0;
    data->registerCallback(recorder, &cookie);

    std::string content = pattern(1999999, 5);
    ULONG done = 0;
    EXPECT_EQ(data->write(content.data(), 1999999, 0, &done), S_OK);
    EXPECT_EQ(adaptive->mode(), AdaptiveStreamData::InMemory);
    EXPECT_TRUE(folder.files().empty());
    EXPECT_EQ(recorder->events.back(), "size 1999999");
    EXPECT_EQ(recorder->sources.back(), data.p);  // told as the adaptive data

    EXPECT_EQ(data->write("!", 1, 1999999, &done), S_OK);
    EXPECT_EQ(adaptive->mode(), AdaptiveStreamData::InFile);
    EXPECT_EQ(folder.files().size(), 1u);
    content += "!";
    EXPECT_EQ(readAll(data.p), content);

    EXPECT_EQ(data->setSize(1000000), S_OK);
    EXPECT_EQ(adaptive->mode(), AdaptiveStreamData::InFile);
    EXPECT_EQ(data->setSize(999999), S_OK);
    EXPECT_EQ(adaptive->mode(), AdaptiveStreamData::InMemory);
    EXPECT_TRUE(folder.files().empty());
    EXPECT_EQ(readAll(data.p), content.substr(0, 999999));
    // Listeners on the adaptive data still hear the new inner data.
    EXPECT_EQ(recorder->events.back(), "size 999999");
    data->write("z", 1, 0, &done);
    data->commit(0);
    EXPECT_EQ(recorder->events.back(), "commit");

    data->unregisterCallback(cookie);
    recorder->Release();
}

TEST(AdaptiveStreamData, FirstUseAndReadOnlyContentMove) {
    TempFolder folder;
    Data big;
    ASSERT_EQ(AdaptiveStreamData::create(0, nullptr, &big.p, 100), S_OK);
    ULONG done = 0;
    big->write("x", 1, 99, &done);  // ends at the threshold: straight to a file
    EXPECT_EQ(static_cast<AdaptiveStreamData*>(big.p)->mode(), AdaptiveStreamData::InFile);

    Data small;
    ASSERT_EQ(AdaptiveStreamData::create(0, nullptr, &small.p, 100), S_OK);
    ULONGLONG size = 0;
    EXPECT_EQ(small->getSize(&size), S_OK);
    EXPECT_EQ(static_cast<AdaptiveStreamData*>(small.p)->mode(), AdaptiveStreamData::InMemory);
    std::string content = pattern(60);
    small->write(content.data(), 60, 0, &done);
    small->setFlags(kStreamDataReadOnly, nullptr);
    // Moving read-only content: the flags go on after the copy.
    EXPECT_EQ(small->lockRegion(0, 200, LOCK_WRITE), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(static_cast<AdaptiveStreamData*>(small.p)->mode(), AdaptiveStreamData::InFile);
    EXPECT_EQ(readAll(small.p), content);
    EXPECT_EQ(small->write("y", 1, 0, &done), STG_E_ACCESSDENIED);
    DWORD flags = 0;
    static_cast<AdaptiveStreamData*>(small.p)->inner()->getFlags(&flags);
    EXPECT_EQ(flags, kStreamDataReadOnly);
}

TEST(AdaptiveStreamData, InnerFailuresComeBack) {
    TempFolder folder;
    Data data;
    ASSERT_EQ(AdaptiveStreamData::create(0, nullptr, &data.p, 100), S_OK);
    ULONG done = 0;
    data->write("abc", 3, 0, &done);
    winplat::inject::Scope scope;
    winplat::inject::arm("CreateFileW", ERROR_ACCESS_DENIED);
    std::string more(200, 'm');
    EXPECT_EQ(data->write(more.data(), 200, 0, &done), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_EQ(static_cast<AdaptiveStreamData*>(data.p)->mode(), AdaptiveStreamData::InMemory);
    EXPECT_EQ(readAll(data.p), "abc");
}

TEST(StreamDataConcurrency, WritersSharingOneLock) {
    CLock lock(true);
    Data data;
    ASSERT_EQ(MemoryStreamData::create(0, &lock, &data.p), S_OK);
    auto writer = [&](char c, ULONGLONG base) {
        std::string block(100, c);
        for (int i = 0; i < 200; ++i) {
            ULONG done = 0;
            EXPECT_EQ(data->write(block.data(), 100, base + i * 100, &done), S_OK);
        }
    };
    std::thread a(writer, 'a', 0);
    std::thread b(writer, 'b', 20000);
    a.join();
    b.join();
    std::string content = readAll(data.p);
    EXPECT_EQ(content, std::string(20000, 'a') + std::string(20000, 'b'));
}

namespace {
// The function in slot `index` of a COM object's table, called with the object.
template <typename R, typename... A>
R callSlot(void* object, int index, A... args) {
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<R (*)(void*, A...)>(table[index])(object, args...);
}
}  // namespace

// Callers elsewhere reach these interfaces by slot number only.
TEST(StreamDataSlots, SlotOrderOfTheInterfaces) {
    Data data;
    ASSERT_EQ(MemoryStreamData::create(0, nullptr, &data.p), S_OK);
    ULONG done = 0;
    EXPECT_EQ((callSlot<HRESULT, const void*, ULONG, ULONGLONG, ULONG*>(data.p, 4, "abc", 3, 0, &done)),
              S_OK);
    char buffer[3] = {};
    EXPECT_EQ((callSlot<HRESULT, void*, ULONG, ULONGLONG, ULONG*>(data.p, 3, buffer, 3, 0, &done)), S_OK);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_EQ((callSlot<HRESULT, ULONGLONG>(data.p, 5, 2)), S_OK);
    EXPECT_EQ((callSlot<HRESULT, ULONGLONG, ULONGLONG, DWORD>(data.p, 8, 0, 1, 0)), STG_E_INVALIDFUNCTION);
    EXPECT_EQ((callSlot<HRESULT, STATSTG*, DWORD>(data.p, 10, nullptr, 0)), STG_E_INVALIDPOINTER);
    ULONGLONG size = 0;
    EXPECT_EQ((callSlot<HRESULT, ULONGLONG*>(data.p, 11, &size)), S_OK);
    EXPECT_EQ(size, 2u);
    Recorder* recorder = new Recorder;
    DWORD cookie = 0;
    EXPECT_EQ((callSlot<HRESULT, IStreamDataCallbacks*, DWORD*>(data.p, 12, recorder, &cookie)), S_OK);
    EXPECT_EQ((callSlot<HRESULT, DWORD, DWORD*>(data.p, 15, kStreamDataAutoCommit, nullptr)), S_OK);
    DWORD flags = 0;
    EXPECT_EQ((callSlot<HRESULT, DWORD*>(data.p, 16, &flags)), S_OK);
    EXPECT_EQ(flags, kStreamDataAutoCommit);
    EXPECT_EQ((callSlot<HRESULT>(data.p, 17)), S_OK);
    EXPECT_EQ((callSlot<HRESULT>(data.p, 18)), S_OK);
    EXPECT_EQ((callSlot<HRESULT, IStreamData*>(data.p, 14, nullptr)), E_INVALIDARG);
    // Listener slots: 3 onCommit, 4 onSizeChanged.
    EXPECT_EQ((callSlot<HRESULT, IStreamData*>(recorder, 3, data.p)), S_OK);
    EXPECT_EQ((callSlot<HRESULT, IStreamData*, ULONGLONG>(recorder, 4, data.p, 9)), S_OK);
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"commit", "size 9"}));
    EXPECT_EQ((callSlot<HRESULT, DWORD>(data.p, 13, cookie)), S_OK);
    recorder->Release();
}
