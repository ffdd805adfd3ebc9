// DataStream: IStream over a back-end.
#include <gtest/gtest.h>

#include "CommonBase/DataStream.h"
#include "StreamTestSupport.h"
#include "TempFolder.h"
#include "winplat/inject.h"

namespace {

class Counter : public iui_::IUnknownImpl<IStreamDataCallbacks> {
  public:
    STDMETHOD(onCommit)(IStreamData*) override {
        ++commits;
        return S_OK;
    }
    STDMETHOD(onSizeChanged)(IStreamData*, ULONGLONG) override {
        ++sizes;
        return S_OK;
    }
    // References other than the test's own.
    ULONG others() {
        ULONG count = AddRef();
        Release();
        return count - 2;
    }
    int commits = 0;
    int sizes = 0;
};

IStreamData* backEnd(IStream* stream) {
    IStreamManager* manager = nullptr;
    EXPECT_EQ(stream->QueryInterface(IID_IStreamManager, reinterpret_cast<void**>(&manager)), S_OK);
    IStreamData* data = nullptr;
    EXPECT_EQ(manager->getStreamData(&data), S_OK);
    manager->Release();
    return data;
}

HRESULT seek(IStream* stream, LONGLONG move, DWORD origin, ULONGLONG* position = nullptr) {
    LARGE_INTEGER distance;
    distance.QuadPart = move;
    ULARGE_INTEGER at{};
    HRESULT hr = stream->Seek(distance, origin, &at);
    if (position) {
        *position = at.QuadPart;
    }
    return hr;
}

}  // namespace

TEST(DataStream, SeekOriginsAndLimits) {
    StreamRef stream(memoryStream());
    ULONGLONG position = 7;
    EXPECT_EQ(seek(stream.get(), -1, STREAM_SEEK_END), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(seek(stream.get(), 0, STREAM_SEEK_END, &position), S_OK);
    EXPECT_EQ(position, 0u);
    stream->Write("0123456789", 10, nullptr);
    EXPECT_EQ(streamPosition(stream.get()), 10u);  // a null count still moves
    EXPECT_EQ(seek(stream.get(), -4, STREAM_SEEK_CUR, &position), S_OK);
    EXPECT_EQ(position, 6u);
    EXPECT_EQ(seek(stream.get(), -7, STREAM_SEEK_CUR), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(streamPosition(stream.get()), 6u);
    EXPECT_EQ(seek(stream.get(), 5, 3), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(streamPosition(stream.get()), 6u);
    EXPECT_EQ(seek(stream.get(), -10, STREAM_SEEK_END, &position), S_OK);
    EXPECT_EQ(position, 0u);
    EXPECT_EQ(seek(stream.get(), 100, STREAM_SEEK_SET, &position), S_OK);
    char buffer[4];
    ULONG got = 9;
    EXPECT_EQ(stream->Read(buffer, 4, &got), S_OK);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(seek(stream.get(), 3, STREAM_SEEK_SET), S_OK);
    EXPECT_EQ(stream->Read(buffer, 4, nullptr), S_OK);
    EXPECT_EQ(streamPosition(stream.get()), 7u);
    // A set position is taken unsigned.
    EXPECT_EQ(seek(stream.get(), -2, STREAM_SEEK_SET, &position), S_OK);
    EXPECT_EQ(position, ~0ull - 1);
    // Writing there cannot wrap around: the back-end refuses it and the position stays.
    EXPECT_EQ(stream->Write("xyz", 3, &got), STG_E_MEDIUMFULL);
    EXPECT_EQ(streamPosition(stream.get()), ~0ull - 1);
    EXPECT_EQ(streamContent(stream.get()), "0123456789");
}

TEST(DataStream, SeekPastTheEndThenWrite) {
    StreamRef stream(memoryStream("ab"));
    EXPECT_EQ(seek(stream.get(), 5, STREAM_SEEK_END), S_OK);
    EXPECT_EQ(stream->Write("cd", 2, nullptr), S_OK);
    EXPECT_EQ(streamContent(stream.get()), std::string("ab\0\0\0\0\0cd", 9));
}

TEST(DataStream, ReadOnlyContentAndInitialContent) {
    IStream* raw = nullptr;
    ASSERT_EQ(DataStream::create<MemoryStreamData>(true, false, false, &raw, "content", 7), S_OK);
    StreamRef stream(raw);
    EXPECT_EQ(streamContent(stream.get()), "content");
    EXPECT_EQ(streamPosition(stream.get()), 0u);
    ULONG done = 5;
    EXPECT_EQ(stream->Write("x", 1, &done), STG_E_ACCESSDENIED);
    EXPECT_EQ(done, 5u);
    EXPECT_EQ(streamPosition(stream.get()), 0u);
    EXPECT_EQ(stream->SetSize(ULARGE_INTEGER{{1, 0}}), STG_E_ACCESSDENIED);

    // The initial content was committed inside the bracket: nothing is left to tell.
    IStreamData* data = backEnd(stream.get());
    Counter* counter = new Counter;
    DWORD cookie = 0;
    data->registerCallback(counter, &cookie);
    data->setFlags(0, nullptr);
    EXPECT_EQ(stream->Commit(0), S_OK);
    EXPECT_EQ(counter->commits, 0);
    data->unregisterCallback(cookie);
    data->Release();
    counter->Release();

    // Wide content is stored as UTF-16LE.
    IStream* wide = nullptr;
    ASSERT_EQ(DataStream::create<MemoryStreamData>(false, false, false, &wide), S_OK);
    StreamRef wideRef(wide);
    auto* impl = static_cast<DataStream*>(wide);
    EXPECT_EQ(impl->init(std::wstring(L"A\u00e9")), S_OK);
    EXPECT_EQ(streamContent(wide), std::string("A\0\xe9\0", 4));
}

TEST(DataStream, CommitOnReleaseAndLifetime) {
    Counter* counter = new Counter;
    {
        IStream* raw = nullptr;
        ASSERT_EQ(DataStream::create<MemoryStreamData>(false, false, true, &raw), S_OK);
        IStreamData* data = backEnd(raw);
        DWORD cookie = 0;
        data->registerCallback(counter, &cookie);
        data->Release();
        raw->Write("dirty", 5, nullptr);
        IStream* clone = nullptr;
        ASSERT_EQ(raw->Clone(&clone), S_OK);
        raw->Release();
        EXPECT_EQ(counter->commits, 1);    // the created stream committed on its last release
        EXPECT_EQ(counter->others(), 1u);  // the back-end lives on under the clone
        clone->Write("more", 4, nullptr);
        clone->Release();
        EXPECT_EQ(counter->commits, 2);  // clones inherit the flag
    }
    // The back-end went with the last stream and gave up its listener.
    EXPECT_EQ(counter->others(), 0u);
    counter->Release();
}

TEST(DataStream, ClonesShareContentNotPosition) {
    StreamRef stream(memoryStream("0123456789"));
    seek(stream.get(), 4, STREAM_SEEK_SET);
    StreamRef clone;
    ASSERT_EQ(stream->Clone(clone.out()), S_OK);
    EXPECT_EQ(streamPosition(clone.get()), 4u);
    char c = 0;
    clone->Read(&c, 1, nullptr);
    EXPECT_EQ(c, '4');
    EXPECT_EQ(streamPosition(stream.get()), 4u);
    clone->Write("XY", 2, nullptr);
    EXPECT_EQ(streamContent(stream.get()), "01234XY789");

    IUnknown* marshal = nullptr;
    EXPECT_EQ(stream->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
    marshal->Release();
    EXPECT_EQ(clone->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), E_NOINTERFACE);
    EXPECT_EQ(clone->QueryInterface(IID_IExternalConnection, reinterpret_cast<void**>(&marshal)),
              E_NOINTERFACE);
}

TEST(DataStream, InterfacesOfAStream) {
    StreamRef stream(memoryStream("x"));
    IUnknown* unknown = nullptr;
    ASSERT_EQ(stream->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(stream.get()));
    ISequentialStream* sequential = nullptr;
    ASSERT_EQ(stream->QueryInterface(IID_ISequentialStream, reinterpret_cast<void**>(&sequential)), S_OK);
    IExternalConnection* connection = nullptr;
    ASSERT_EQ(stream->QueryInterface(IID_IExternalConnection, reinterpret_cast<void**>(&connection)), S_OK);
    // The aggregated object answers for its outer object.
    IStream* back = nullptr;
    ASSERT_EQ(connection->QueryInterface(IID_IStream, reinterpret_cast<void**>(&back)), S_OK);
    EXPECT_EQ(back, stream.get());
    back->Release();
    connection->Release();
    sequential->Release();
    unknown->Release();
    EXPECT_EQ(stream->QueryInterface(IID_IStorage, reinterpret_cast<void**>(&unknown)), E_NOINTERFACE);
    EXPECT_EQ(stream->QueryInterface(IID_IStream, nullptr), E_POINTER);
    // Only the test's reference is left.
    EXPECT_EQ(stream->AddRef(), 2u);
    EXPECT_EQ(stream->Release(), 1u);

    STATSTG stat{};
    EXPECT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 1u);
    EXPECT_EQ(stream->LockRegion(ULARGE_INTEGER{}, ULARGE_INTEGER{{1, 0}}, LOCK_WRITE),
              STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream->Revert(), S_OK);
}

TEST(DataStream, CopyToCountsAndLimits) {
    std::string content(2500000, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i % 251);
    }
    StreamRef source(memoryStream(content));
    StreamRef target(memoryStream());
    ULARGE_INTEGER read{}, written{};
    EXPECT_EQ(source->CopyTo(target.get(), ULARGE_INTEGER{}, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 0u);
    EXPECT_EQ(written.QuadPart, 0u);
    ULARGE_INTEGER all;
    all.QuadPart = ~0ull;
    EXPECT_EQ(source->CopyTo(target.get(), all, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, content.size());
    EXPECT_EQ(written.QuadPart, content.size());
    EXPECT_EQ(streamContent(target.get()), content);
    EXPECT_EQ(streamPosition(source.get()), content.size());

    seek(source.get(), 10, STREAM_SEEK_SET);
    StreamRef part(memoryStream());
    EXPECT_EQ(source->CopyTo(part.get(), ULARGE_INTEGER{{5, 0}}, &read, nullptr), S_OK);
    EXPECT_EQ(streamContent(part.get()), content.substr(10, 5));

    read.QuadPart = written.QuadPart = 77;
    EXPECT_EQ(source->CopyTo(nullptr, all, &read, &written), STG_E_INVALIDPOINTER);
    EXPECT_EQ(read.QuadPart, 0u);
    EXPECT_EQ(written.QuadPart, 0u);
}

TEST(DataStream, AdaptiveStreamCrossesItsThreshold) {
    TempFolder folder;
    IStream* raw = nullptr;
    ASSERT_EQ(streamUtils::createStream(streamUtils::AdaptiveStream, &raw, false, false, false), S_OK);
    StreamRef stream(raw);
    std::string block(1000000, 'q');
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(stream->Write(block.data(), static_cast<ULONG>(block.size()), nullptr), S_OK);
    }
    IStreamData* data = backEnd(stream.get());
    EXPECT_EQ(static_cast<AdaptiveStreamData*>(data)->mode(), AdaptiveStreamData::InFile);
    data->Release();
    EXPECT_EQ(streamSize(stream.get()), 3000000u);
    EXPECT_EQ(streamContent(stream.get()), block + block + block);
}

TEST(DataStream, ConstructionFailures) {
    IStream* raw = nullptr;
    EXPECT_EQ(DataStream::wrap(nullptr, &raw, 0, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(DataStream::create<MemoryStreamData>(false, false, false, nullptr), E_POINTER);

    winplat::inject::Scope scope;
    int64_t marshalers = winplat::com::liveMarshalerCount();
    winplat::inject::arm("CoCreateFreeThreadedMarshaler", E_OUTOFMEMORY);
    EXPECT_EQ(DataStream::create<MemoryStreamData>(false, false, false, &raw, "abc", 3), E_OUTOFMEMORY);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(winplat::com::liveMarshalerCount(), marshalers);
}

TEST(DataStream, StreamManagerSlot) {
    StreamRef stream(memoryStream("slots"));
    IStreamManager* manager = nullptr;
    ASSERT_EQ(stream->QueryInterface(IID_IStreamManager, reinterpret_cast<void**>(&manager)), S_OK);
    void** table = *reinterpret_cast<void***>(manager);
    IStreamData* data = nullptr;
    EXPECT_EQ(reinterpret_cast<HRESULT (*)(void*, IStreamData**)>(table[3])(manager, &data), S_OK);
    ULONGLONG size = 0;
    data->getSize(&size);
    EXPECT_EQ(size, 5u);
    data->Release();
    manager->Release();
}
