// Where the tests' fresh folders go: TMPDIR when every user can reach it,
// else the first such of the usual folders, whatever TMPDIR is.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "test_folder.h"

namespace {

namespace fs = std::filesystem;

// Puts TMPDIR back as it was.
class TmpdirKept {
  public:
    TmpdirKept() {
        if (const char* was = std::getenv("TMPDIR")) {
            was_ = was;
        }
    }
    ~TmpdirKept() {
        if (was_) {
            setenv("TMPDIR", was_->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }

  private:
    std::optional<std::string> was_;
};

TEST(TestFolder, TmpdirIsTakenOnlyWhenEveryUserCanReachIt) {
    TmpdirKept kept;
    const testfolder::Scoped scoped("test_folder_test_");  // where the test's own TMPDIR leads
    const std::string& top = scoped.path();
    unsetenv("TMPDIR");
    const std::string usual = testfolder::base();
    ASSERT_EQ(::chmod(top.c_str(), 0755), 0);
    const std::string open = top + "/open";
    const std::string closed = top + "/closed";
    ASSERT_EQ(::mkdir(open.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(closed.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((closed + "/inner").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("open", (top + "/link").c_str()), 0);
    ASSERT_EQ(::close(::creat((top + "/file").c_str(), 0644)), 0);
    // A folder others cannot reach is passed over for the usual one, unless
    // that one cannot be reached either (no candidate can): then the first
    // that can be written is taken.
    const auto unreachable = [&](const std::string& folder) {
        return testfolder::reachableByAll(usual) ? usual : folder;
    };
    const struct {
        const char* what;
        std::string tmpdir;
        std::string base;
    } rows[] = {
        {"a folder open to all", open, fs::canonical(open).string()},
        {"a link to it", top + "/link", fs::canonical(open).string()},
        {"a folder of the test's user alone", closed, unreachable(fs::canonical(closed).string())},
        {"an open folder in it", closed + "/inner", unreachable(fs::canonical(closed + "/inner").string())},
        {"a folder that does not exist", top + "/absent", usual},
        {"a file", top + "/file", usual},
        {"empty", "", usual},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        setenv("TMPDIR", row.tmpdir.c_str(), 1);
        EXPECT_EQ(testfolder::base(), row.base);
        if (row.base.rfind(top + "/", 0) != 0) {
            continue;  // the usual folder, which this test leaves alone
        }
        const testfolder::Scoped folder("row-");
        const std::string& made = folder.path();
        struct stat st {};
        ASSERT_EQ(::lstat(made.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        EXPECT_EQ(fs::path(made).parent_path().string(), row.base);
        EXPECT_EQ(fs::path(made).filename().string().rfind("row-", 0), 0u);
        EXPECT_TRUE(fs::is_empty(made));
    }
    EXPECT_TRUE(fs::is_empty(closed + "/inner"));
    EXPECT_TRUE(fs::is_empty(open));
    EXPECT_FALSE(fs::exists(top + "/absent"));
}

TEST(TestFolder, AFolderThatCannotBeMadeIsToldWithTheReason) {
    TmpdirKept kept;
    unsetenv("TMPDIR");
    const std::string base = testfolder::base();
    try {
        testfolder::fresh("no-such-folder-of-the-tests/x");
        ADD_FAILURE() << "made a folder in a folder that does not exist";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "cannot make a folder " + base +
                      "/no-such-folder-of-the-tests/xXXXXXX: No such file or directory");
    }
    EXPECT_FALSE(fs::exists(base + "/no-such-folder-of-the-tests"));
}

// A scoped folder goes with all it holds, a folder closed to its user and a
// file of mode 000 included, and a link in it goes without what it points at.
TEST(TestFolder, AScopedFolderGoesWithAllItHolds) {
    const testfolder::Scoped outside("test_folder_outside_");
    ASSERT_EQ(::close(::creat((outside.path() + "/kept").c_str(), 0644)), 0);
    std::string path;
    {
        const testfolder::Scoped folder("test_folder_scoped_");
        path = folder.path();
        ASSERT_EQ(::mkdir((path + "/deep").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((path + "/deep/closed").c_str(), 0755), 0);
        ASSERT_EQ(::close(::creat((path + "/deep/closed/file").c_str(), 0000)), 0);
        ASSERT_EQ(::chmod((path + "/deep/closed").c_str(), 0000), 0);
        ASSERT_EQ(::symlink(outside.path().c_str(), (path + "/link").c_str()), 0);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
    EXPECT_TRUE(fs::exists(outside.path() + "/kept"));
}

}  // namespace
