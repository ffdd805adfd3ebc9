// UTF-16 conversions, the console writer and its capture, and the
// main -> wmain glue with its exit-status mapping.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "winplat/console.h"
#include "winplat/utf16.h"

namespace {

using winplat::bytesToWide;
using winplat::utf16ToUtf8;
using winplat::utf8ToUtf16;
using winplat::wideToBytes;

TEST(KernelUtf16, Utf8ToUtf16BuildsSurrogatePairsAndReplacesBadInput) {
    EXPECT_EQ(utf8ToUtf16("abc"), L"abc");
    EXPECT_EQ(utf8ToUtf16("\xC3\xA9\xE2\x82\xAC"), std::wstring(L"\x00E9\x20AC"));
    const std::wstring pair = utf8ToUtf16("\xF0\x9F\x98\x80");  // U+1F600
    ASSERT_EQ(pair.size(), 2u);
    EXPECT_EQ(pair[0], static_cast<wchar_t>(0xD83D));
    EXPECT_EQ(pair[1], static_cast<wchar_t>(0xDE00));
    const std::wstring fffd(1, static_cast<wchar_t>(0xFFFD));
    EXPECT_EQ(utf8ToUtf16("\x80"), fffd);              // stray continuation
    EXPECT_EQ(utf8ToUtf16("\xC0\x80"), fffd + fffd);   // never a lead byte
    EXPECT_EQ(utf8ToUtf16("\xE0\x80\x80"), fffd);      // overlong
    EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80"), fffd);      // encoded surrogate
    EXPECT_EQ(utf8ToUtf16("\xF4\x90\x80\x80"), fffd);  // above U+10FFFF
    EXPECT_EQ(utf8ToUtf16("\xE2\x82"
                          "A"),
              fffd + L"A");  // cut short
    EXPECT_EQ(utf8ToUtf16(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
    for (wchar_t u : utf8ToUtf16("\xF0\x9F\x98\x80\xFF\xF4\x8F\xBF\xBF")) {
        EXPECT_LE(static_cast<uint32_t>(u), 0xFFFFu);
    }
}

TEST(KernelUtf16, Utf16ToUtf8JoinsPairsAndReplacesLoneSurrogates) {
    EXPECT_EQ(utf16ToUtf8(std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)}),
              "\xF0\x9F\x98\x80");
    EXPECT_EQ(utf16ToUtf8(std::wstring(1, static_cast<wchar_t>(0xD83D))), "\xEF\xBF\xBD");
    EXPECT_EQ(utf16ToUtf8(std::wstring{static_cast<wchar_t>(0xDE00), L'x'}),
              "\xEF\xBF\xBD"
              "x");
    // Only the low 16 bits of a unit count.
    EXPECT_EQ(utf16ToUtf8(std::wstring(1, static_cast<wchar_t>(0x120AC))), "\xE2\x82\xAC");
    const std::string text =
        "Postf\xC3\xA4"
        "cher \xE2\x82\xAC \xF0\x9F\x98\x80";
    EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(text)), text);
}

TEST(KernelUtf16, WideBytesAreTwoPerUnitLittleEndian) {
    const std::string bytes = wideToBytes(L"A\x20AC");
    EXPECT_EQ(bytes, std::string("A\0\xAC\x20", 4));
    EXPECT_EQ(winplat::wideToByteVector(L"A"), (std::vector<uint8_t>{0x41, 0x00}));
    EXPECT_EQ(bytesToWide(bytes.data(), bytes.size()), L"A\x20AC");
    EXPECT_EQ(bytesToWide(bytes.data(), 3), L"A");  // an odd last byte is dropped
    EXPECT_EQ(bytesToWide(nullptr, 0), L"");
    EXPECT_EQ(wideToBytes(std::wstring(1, static_cast<wchar_t>(0x1F600))), std::string("\x00\xF6", 2));
}

TEST(KernelConsole, CaptureCollectsOutAndErrApart) {
    winplat::console::Capture capture;
    winplat::console::writeOut(L"caf\x00E9 ");
    winplat::console::writeOut(
        std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00), L'\n'});
    winplat::console::writeErr(L"error\n");
    winplat::console::writeOutNarrow("narrow\n");
    winplat::console::writeErrNarrow("e2\n");
    EXPECT_EQ(capture.out(), "caf\xC3\xA9 \xF0\x9F\x98\x80\nnarrow\n");
    EXPECT_EQ(capture.err(), "error\ne2\n");
    EXPECT_EQ(capture.errWide(), L"error\ne2\n");
    capture.clear();
    // Narrow text is in the ANSI code page: the same name looks the same
    // printed either way, undefined bytes of the page included.
    winplat::console::writeOut(L"caf\x00E9 \x20AC\x0081|");
    winplat::console::writeOutNarrow("caf\xE9 \x80\x81|");
    winplat::console::writeErrNarrow(std::string("\x9F\0\xFF", 3));
    EXPECT_EQ(capture.out(), "caf\xC3\xA9 \xE2\x82\xAC\xC2\x81|caf\xC3\xA9 \xE2\x82\xAC\xC2\x81|");
    EXPECT_EQ(capture.err(), std::string("\xC5\xB8\0\xC3\xBF", 5));
    capture.clear();
    winplat::console::writeOutNarrow("narrow\n");
    {
        winplat::console::Capture inner;
        winplat::console::writeOut(L"inner");
        EXPECT_EQ(inner.out(), "inner");
    }
    winplat::console::writeOut(L"!");
    EXPECT_EQ(capture.out(), "narrow\n!");
    capture.clear();
    EXPECT_EQ(capture.out(), "");
    EXPECT_EQ(capture.err(), "");
}

// Runs `write` with file descriptor `fd` sent to a pipe; returns the bytes.
template <class F>
std::string bytesWrittenTo(int fd, F write) {
    int fds[2];
    if (pipe(fds) != 0) {
        return "<no pipe>";
    }
    std::fflush(nullptr);
    const int saved = dup(fd);
    dup2(fds[1], fd);
    close(fds[1]);
    write();
    std::fflush(nullptr);
    dup2(saved, fd);
    close(saved);
    std::string bytes;
    char buffer[256];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
        bytes.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    return bytes;
}

TEST(KernelConsole, WritesUtf8ToTheRightDescriptorInOrder) {
    const std::string out = bytesWrittenTo(1, [] {
        std::printf("C stream first, ");  // left buffered by a library
        winplat::console::writeOut(L"\x00E9\xD83D\xDE00\n");
        winplat::console::writeErr(L"not here");
        winplat::console::writeOutNarrow("\xE9\n");
    });
    EXPECT_EQ(out, "C stream first, \xC3\xA9\xF0\x9F\x98\x80\n\xC3\xA9\n");
    const std::string err = bytesWrittenTo(2, [] {
        winplat::console::writeErr(L"\x20AC");
        winplat::console::writeOut(L"");
    });
    EXPECT_EQ(err, "\xE2\x82\xAC");
}

std::vector<std::wstring> gArgs;
int gResult = 0;
bool gTerminated = false;

int recordingWmain(int argc, wchar_t** argv) {
    gArgs.clear();
    for (int i = 0; i < argc; ++i) {
        gArgs.emplace_back(argv[i]);
    }
    gTerminated = argv[argc] == nullptr;
    return gResult;
}

TEST(KernelConsole, RunWmainConvertsArgumentsFromUtf8) {
    char a0[] = "Storeset";
    char a1[] = "-profile";
    char a2[] =
        "Postf\xC3\xA4"
        "cher \xF0\x9F\x98\x80";
    char a3[] = "";
    char* argv[] = {a0, a1, a2, a3, nullptr};
    gResult = 0;
    EXPECT_EQ(winplat::runWmain(4, argv, recordingWmain), 0);
    ASSERT_EQ(gArgs.size(), 4u);
    EXPECT_EQ(gArgs[0], L"Storeset");
    EXPECT_EQ(gArgs[2], std::wstring(L"Postf\x00E4"
                                     L"cher \xD83D\xDE00"));
    EXPECT_EQ(gArgs[3], L"");
    EXPECT_TRUE(gTerminated);
}

TEST(KernelConsole, ExitStatusKeepsFailuresVisible) {
    char a0[] = "tool";
    char* argv[] = {a0, nullptr};
    const struct {
        int result;
        int status;
    } cases[] = {
        {0, 0},
        {1, 1},
        {0x57, 0x57},
        {static_cast<int>(0x80070057u), 0x57},
        {static_cast<int>(0x80040100u), 1},  // low byte 0: would read as success
        {static_cast<int>(0x80000000u), 1},
        {256, 1},
        {-1, 255},
    };
    for (const auto& c : cases) {
        gResult = c.result;
        EXPECT_EQ(winplat::runWmain(1, argv, recordingWmain), c.status) << std::hex << c.result;
        EXPECT_EQ(winplat::exitStatusFromResult(c.result), c.status);
    }
}

}  // namespace
