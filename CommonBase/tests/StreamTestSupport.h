// Helpers for tests over COM streams: memory streams with content, reading a
// stream whole, and a scripted stream whose reads can fail.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "CommonBase/StreamUtils.h"
#include "winplat/objidl.h"

// Owns one reference.
class StreamRef {
  public:
    StreamRef() = default;
    explicit StreamRef(IStream* stream) : stream_(stream) {}
    ~StreamRef() {
        if (stream_) {
            stream_->Release();
        }
    }
    StreamRef(const StreamRef&) = delete;
    StreamRef& operator=(const StreamRef&) = delete;
    IStream* get() const { return stream_; }
    IStream* operator->() const { return stream_; }
    IStream** out() { return &stream_; }

  private:
    IStream* stream_ = nullptr;
};

inline IStream* memoryStream(const std::string& content = std::string()) {
    IStream* stream = nullptr;
    HRESULT hr = streamUtils::createStream(streamUtils::MemoryStream, &stream, content.data(), content.size(),
                                           false, false, false);
    EXPECT_EQ(hr, S_OK);
    return stream;
}

inline ULONGLONG streamSize(IStream* stream) {
    STATSTG stat{};
    EXPECT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    return stat.cbSize.QuadPart;
}

inline ULONGLONG streamPosition(IStream* stream) {
    LARGE_INTEGER zero{};
    ULARGE_INTEGER position{};
    EXPECT_EQ(stream->Seek(zero, STREAM_SEEK_CUR, &position), S_OK);
    return position.QuadPart;
}

// The whole content, whatever the position; the position is kept.
inline std::string streamContent(IStream* stream) {
    ULONGLONG position = streamPosition(stream);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    std::string content;
    char buffer[65536];
    ULONG got = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof(buffer), &got)) && got > 0) {
        content.append(buffer, got);
    }
    LARGE_INTEGER back;
    back.QuadPart = static_cast<LONGLONG>(position);
    stream->Seek(back, STREAM_SEEK_SET, nullptr);
    return content;
}

// A read-only stream over fixed bytes that hands out at most `piece` bytes
// per Read and fails every Read after `failAfter` bytes with `failure`.
class ScriptedStream : public IStream {
  public:
    ScriptedStream(std::string content, size_t failAfter, HRESULT failure, size_t piece = SIZE_MAX)
        : content_(std::move(content)), failAfter_(failAfter), failure_(failure), piece_(piece) {}

    STDMETHOD(QueryInterface)(REFIID riid, void** out) override {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IStream) ||
            IsEqualGUID(riid, IID_ISequentialStream)) {
            *out = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }
    STDMETHOD(Read)(void* buffer, ULONG count, ULONG* done) override {
        if (position_ >= failAfter_) {
            if (done) {
                *done = 0;
            }
            return failure_;
        }
        size_t n = std::min<size_t>(
            {count, piece_, content_.size() - std::min(position_, content_.size()), failAfter_ - position_});
        std::copy_n(content_.data() + position_, n, static_cast<char*>(buffer));
        position_ += n;
        if (done) {
            *done = static_cast<ULONG>(n);
        }
        return S_OK;
    }
    STDMETHOD(Write)(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        LONGLONG base = origin == STREAM_SEEK_SET   ? 0
                        : origin == STREAM_SEEK_CUR ? static_cast<LONGLONG>(position_)
                                                    : static_cast<LONGLONG>(content_.size());
        position_ = static_cast<size_t>(base + move.QuadPart);
        if (position) {
            position->QuadPart = position_;
        }
        return S_OK;
    }
    STDMETHOD(SetSize)(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHOD(CopyTo)(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    STDMETHOD(Commit)(DWORD) override { return S_OK; }
    STDMETHOD(Revert)() override { return S_OK; }
    STDMETHOD(LockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(Stat)(STATSTG* stat, DWORD) override {
        *stat = {};
        stat->cbSize.QuadPart = statSize ? statSize : content_.size();
        return S_OK;
    }
    STDMETHOD(Clone)(IStream**) override { return E_NOTIMPL; }

    ULONG refs = 1;
    ULONGLONG statSize = 0;  // reported by Stat when not 0

  private:
    std::string content_;
    size_t position_ = 0;
    size_t failAfter_;
    HRESULT failure_;
    size_t piece_;
};
