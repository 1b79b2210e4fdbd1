// A stand-in for the driver in the tests of scan runs (test-only target
// orvo_scanrun_fake_driver): it hands out the pages it is given, writes a
// small file for each, and counts and records the calls a run makes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "orvo/scanrun/driver.h"

namespace orvo::scanrun {

struct FakePage {
    std::string micr;  // the driver's text
    bool writeFile = true;
    int result = 0;
    bool waitForEnd = false;   // waits until EndBatch is called, then returns -3
    bool comesAnyway = false;  // with waitForEnd: the page still arrives (returns 0)
};

class FakeDriver : public Driver {
  public:
    std::vector<FakePage> pages;
    int startResult = 0;
    int endResult = -3;
    uint32_t deviceError = 0;
    int imageFormat = -1;  // the format last asked for
    int imageFormatResult = 1;
    std::vector<std::string> requested;
    int startCalls = 0;
    int endCalls = 0;
    bool waiting = false;  // a waitForEnd page is waiting

    // Calls a scan run does not make.
    int Init() override { return 0; }
    int End() override { return 0; }
    const char* Version() override { return ""; }
    int Setup(void*, const char*) override { return 0; }
    int SetupQa(void*) override { return 0; }
    int RestoreSettingsQa(unsigned char*) override { return 0; }
    int SaveSettingsQa(const unsigned char*) override { return 0; }

    int ImageFormat(int format) override {
        imageFormat = format;
        return imageFormatResult;
    }
    int StartBatch(const char*) override {
        ++startCalls;
        return startResult;
    }
    int GetOneImage(const char* path, int* height) override {
        std::unique_lock<std::mutex> lock(mutex_);
        requested.push_back(path);
        if (next_ >= pages.size()) return endResult;
        const FakePage page = pages[next_++];
        if (page.waitForEnd) {
            waiting = true;
            changed_.notify_all();
            // Bounded: a test that never ends the wait fails instead of hanging.
            const bool ended =
                changed_.wait_for(lock, std::chrono::seconds(30), [this] { return endCalls > 0; });
            waiting = false;
            if (!ended) return -999;
            if (!page.comesAnyway) return -3;
        }
        if (page.result != 0) return page.result;
        if (page.writeFile) std::ofstream(path) << "image " << next_;
        micr_ = page.micr;
        if (height) *height = 100;
        return 0;
    }
    const char* MicrDataBufPtr() override { return micr_.c_str(); }
    int MicrDataSize() override { return static_cast<int>(micr_.size()); }
    uint32_t GetDeviceError() override { return deviceError; }
    int EndBatch() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++endCalls;
        changed_.notify_all();
        return 0;
    }
    // Waits until a waitForEnd page is waiting (bounded).
    bool AwaitWaiting() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [this] { return waiting; });
    }
    int EndCalls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return endCalls;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;
    std::string micr_;
};

}  // namespace orvo::scanrun
