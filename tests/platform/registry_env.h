// Points the registry at a fresh temporary file for the life of a test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

class TempRegistry {
public:
    TempRegistry() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        static int serial = 0;
        std::string name = std::string("sonadec-reg-") + std::to_string(getpid()) + "-" + std::to_string(++serial) + "-" +
                           (info ? std::string(info->test_suite_name()) + "." + info->name() : "x") + ".db";
        path_ = (std::filesystem::temp_directory_path() / name).string();
        remove();
        setenv("SONADEC_REGISTRY", path_.c_str(), 1);
    }
    ~TempRegistry() { remove(); }
    const std::string& path() const { return path_; }
private:
    void remove() {
        std::error_code ec;
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(path_ + suffix, ec);
    }
    std::string path_;
};
