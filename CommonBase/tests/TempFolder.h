// A folder of its own for the temporary files of stream tests.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "CommonBase/StreamData.h"
#include "platform/tests/test_folder.h"

// A folder of its own for temporary files, configured for the test's
// duration: the temporary folder of the environment may be absent.
class TempFolder {
  public:
    TempFolder() : path_(testfolder::fresh("streamdata_test")) { Stream::Init::setTempPath(path_); }
    ~TempFolder() {
        Stream::Init::setTempPath("");
        for (const std::string& name : files()) {
            unlink((path_ + "/" + name).c_str());
        }
        rmdir(path_.c_str());
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        if (DIR* dir = opendir(path_.c_str())) {
            while (dirent* entry = readdir(dir)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..") {
                    names.push_back(name);
                }
            }
            closedir(dir);
        }
        return names;
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};
