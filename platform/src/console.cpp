#include "winplat/console.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <vector>

#include "kinternal.h"
#include "winplat/text.h"
#include "winplat/utf16.h"

namespace winplat::console {

struct Capture::State {
    std::string out;
    std::string err;
};

namespace {

struct Writer {
    std::mutex mutex;
    Capture* capture = nullptr;  // innermost live capture
};

// Never destroyed: statics of other libraries may still print during exit.
Writer& writer() {
    static Writer* w = new Writer;
    return *w;
}

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // nowhere to report a broken console
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

}  // namespace

// Reaches the capture's state from the writer without exposing it.
struct CaptureAccess {
    static Capture::State* state(Capture* c) { return c->state_; }
};

namespace {

void emit(bool toErr, std::string_view utf8) {
    Writer& w = writer();
    std::lock_guard<std::mutex> lock(w.mutex);
    if (w.capture != nullptr) {
        Capture::State* s = CaptureAccess::state(w.capture);
        (toErr ? s->err : s->out).append(utf8);
        return;
    }
    // Anything a library left in the C streams goes first, so the order of
    // the console text is kept.
    std::fflush(toErr ? stderr : stdout);
    writeAll(toErr ? 2 : 1, utf8);
}

// Narrow console text is in the ANSI code page; ASCII reads the same in both.
std::string ansiToUtf8(std::string_view text) {
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
    if (ascii) {
        return std::string(text);
    }
    const int n = static_cast<int>(text.size());
    std::wstring wide(text.size(), L'\0');  // one unit per byte in this code page
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, text.data(), n, wide.data(), n)));
    return utf16ToUtf8(wide);
}

}  // namespace

// Each write is one platform call: a suspend never stops it halfway.
void writeOut(std::wstring_view text) {
    kernel::CriticalScope scope;
    emit(false, utf16ToUtf8(text));
}
void writeErr(std::wstring_view text) {
    kernel::CriticalScope scope;
    emit(true, utf16ToUtf8(text));
}
void writeOutNarrow(std::string_view text) {
    kernel::CriticalScope scope;
    emit(false, ansiToUtf8(text));
}
void writeErrNarrow(std::string_view text) {
    kernel::CriticalScope scope;
    emit(true, ansiToUtf8(text));
}

Capture::Capture() : state_(new State) {
    Writer& w = writer();
    std::lock_guard<std::mutex> lock(w.mutex);
    previous_ = w.capture;
    w.capture = this;
}

Capture::~Capture() {
    {
        Writer& w = writer();
        std::lock_guard<std::mutex> lock(w.mutex);
        if (w.capture == this) {
            w.capture = previous_;
        }
    }
    delete state_;
}

std::string Capture::out() const {
    std::lock_guard<std::mutex> lock(writer().mutex);
    return state_->out;
}

std::string Capture::err() const {
    std::lock_guard<std::mutex> lock(writer().mutex);
    return state_->err;
}

std::wstring Capture::outWide() const {
    return utf8ToUtf16(out());
}
std::wstring Capture::errWide() const {
    return utf8ToUtf16(err());
}

void Capture::clear() {
    std::lock_guard<std::mutex> lock(writer().mutex);
    state_->out.clear();
    state_->err.clear();
}

}  // namespace winplat::console

namespace winplat {

int exitStatusFromResult(int result) {
    const int low = result & 0xFF;
    return (result != 0 && low == 0) ? 1 : low;
}

int runWmain(int argc, char** argv, int (*wmain)(int, wchar_t**)) {
    std::vector<std::wstring> args;
    args.reserve(static_cast<size_t>(argc > 0 ? argc : 0));
    for (int i = 0; i < argc; ++i) {
        args.push_back(utf8ToUtf16(argv[i] != nullptr ? argv[i] : ""));
    }
    std::vector<wchar_t*> wargv;
    wargv.reserve(args.size() + 1);
    for (auto& a : args) {
        wargv.push_back(a.data());
    }
    wargv.push_back(nullptr);
    return exitStatusFromResult(wmain(argc, wargv.data()));
}

}  // namespace winplat
