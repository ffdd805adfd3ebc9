// A fresh drive root for a test: WINPLAT_ROOT points at a new test folder
// (test_folder.h) with an empty "c" drive; everything is removed and the
// variable restored afterwards, however the test ends.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "test_folder.h"

class FilesTestRoot {
  public:
    FilesTestRoot() : root_(testfolder::fresh("winplat-files-")) {
        const char* old = getenv("WINPLAT_ROOT");
        hadOld_ = old != nullptr;
        old_ = old ? old : "";
        setenv("WINPLAT_ROOT", root_.c_str(), 1);
        std::filesystem::create_directories(root_ + "/c");
        char cwd[4096];
        cwd_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
    }
    ~FilesTestRoot() {
        if (chdir(cwd_.c_str()) != 0) {
            ADD_FAILURE() << "cannot return to " << cwd_;
        }
        if (hadOld_) {
            setenv("WINPLAT_ROOT", old_.c_str(), 1);
        } else {
            unsetenv("WINPLAT_ROOT");
        }
        testfolder::removeAll(root_);
    }
    FilesTestRoot(const FilesTestRoot&) = delete;
    FilesTestRoot& operator=(const FilesTestRoot&) = delete;

    const std::string& path() const { return root_; }

    // Creates a file (and its folders) below the root with `content`.
    std::string write(const std::string& relative, const std::string& content = std::string()) const {
        std::string full = root_ + "/" + relative;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream(full, std::ios::binary) << content;
        return full;
    }
    std::string mkdir(const std::string& relative) const {
        std::string full = root_ + "/" + relative;
        std::filesystem::create_directories(full);
        return full;
    }
    static std::string read(const std::string& full) {
        std::ifstream in(full, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static bool exists(const std::string& full) { return std::filesystem::exists(full); }

  private:
    std::string root_;
    std::string old_;
    bool hadOld_ = false;
    std::string cwd_;
};
