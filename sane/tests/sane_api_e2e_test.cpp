// The backend through the SANE C API in this process, loaded by SANE's dll
// backend, on the virtual scanner: MICR lines per cheque, parameters known
// before a scan, stops from the frontend (sane_cancel in the middle of a page
// and from another thread while a page is awaited), device errors, and the
// operator's settings left alone. Every test runs in a process of its own
// (the driver serves one client per process).
#include <sane/sane.h>
#include <sane/saneopts.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "sane_fixture.h"

namespace sane_e2e {
namespace {

// Option indices by name.
int Find(SANE_Handle h, const char* name) {
    for (int i = 1;; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, i);
        if (d == nullptr) return -1;
        if (d->name != nullptr && std::strcmp(d->name, name) == 0) return i;
    }
}

class SaneApiTest : public ::testing::Test {
  protected:
    void SetUp() override { world_.Apply(); }
    void TearDown() override {
        if (handle_ != nullptr) sane_close(handle_);
        if (initialised_) sane_exit();
    }

    void Open() {
        SANE_Int version = 0;
        ASSERT_EQ(sane_init(&version, nullptr), SANE_STATUS_GOOD);
        initialised_ = true;
        ASSERT_EQ(sane_open("orvoscan", &handle_), SANE_STATUS_GOOD);
    }
    void SetString(const char* name, const char* value) {
        char buffer[64] = {};
        std::strncpy(buffer, value, sizeof buffer - 1);
        ASSERT_EQ(sane_control_option(handle_, Find(handle_, name), SANE_ACTION_SET_VALUE, buffer,
                                      nullptr),
                  SANE_STATUS_GOOD)
            << name;
    }
    std::string Micr() {
        char value[64] = {};
        EXPECT_EQ(sane_control_option(handle_, Find(handle_, "micr"), SANE_ACTION_GET_VALUE, value,
                                      nullptr),
                  SANE_STATUS_GOOD);
        return value;
    }
    // Reads the frame of a started page to its end.
    std::vector<uint8_t> ReadFrame(SANE_Parameters* p) {
        EXPECT_EQ(sane_get_parameters(handle_, p), SANE_STATUS_GOOD);
        std::vector<uint8_t> bytes;
        SANE_Byte chunk[7000];
        SANE_Int n = 0;
        SANE_Status s;
        while ((s = sane_read(handle_, chunk, sizeof chunk, &n)) == SANE_STATUS_GOOD) {
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        EXPECT_EQ(s, SANE_STATUS_EOF);
        EXPECT_EQ(n, 0);
        return bytes;
    }

    World world_;
    SANE_Handle handle_ = nullptr;
    bool initialised_ = false;
};

TEST_F(SaneApiTest, TheMicrLineOfEveryChequeAndTheFramesAsScanned) {
    // The driver keeps the characters before the last one ahead of the CR.
    world_.Scenario(FastScenario(R"([{"micr": "T021000021T 0001234567U 0201."},
        {"micr": "T0210?0021T 0001234567U 0203."}, {"micr": "."}])"));
    Open();
    EXPECT_EQ(Micr(), "");
    const char* expected[] = {"0T021000021T 0001234567U 0201", "1T0210?0021T 0001234567U 0203",
                              "0"};
    for (int doc = 0; doc < 3; ++doc) {
        for (bool front : {true, false}) {
            ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD) << doc;
            // The rear keeps the line of its front, and says it is the rear.
            EXPECT_EQ(Micr(), expected[doc]) << doc << front;
            SANE_Word rear = -1;
            EXPECT_EQ(sane_control_option(handle_, Find(handle_, "side"), SANE_ACTION_GET_VALUE,
                                          &rear, nullptr),
                      SANE_STATUS_GOOD);
            EXPECT_EQ(rear, front ? SANE_FALSE : SANE_TRUE) << doc;
            SANE_Parameters p{};
            const std::vector<uint8_t> bytes = ReadFrame(&p);
            ASSERT_EQ(bytes.size(), static_cast<std::size_t>(p.bytes_per_line) * p.lines);
            ExpectSameAsScanned(
                FromFrame(bytes, p.depth, p.pixels_per_line, p.bytes_per_line, p.lines),
                world_.Record(doc, front));
        }
    }
    EXPECT_EQ(sane_start(handle_), SANE_STATUS_NO_DOCS);
    sane_cancel(handle_);
}

TEST_F(SaneApiTest, AFrontendThatCancelsAfterEveryPageScansTheWholeStack) {
    // As xsane and gscan2pdf scan all pages from a feeder: start, read to
    // the end, cancel; again until the feeder is empty.
    world_.Scenario(FastScenario(R"([{"micr": "A1."}, {"micr": "B2."}, {"micr": "C3."}])"));
    Open();
    SetString("source", "ADF Duplex");
    const char* expected[] = {"0A1", "0B2", "0C3"};
    for (int page = 0; page < 6; ++page) {
        ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD) << page;
        EXPECT_EQ(Micr(), expected[page / 2]) << page;
        SANE_Parameters p{};
        const std::vector<uint8_t> bytes = ReadFrame(&p);
        sane_cancel(handle_);
        EXPECT_EQ(Micr(), expected[page / 2]) << "the line stays after the frame";
        ExpectSameAsScanned(FromFrame(bytes, p.depth, p.pixels_per_line, p.bytes_per_line, p.lines),
                            world_.Record(page / 2, page % 2 == 0));
    }
    EXPECT_EQ(sane_start(handle_), SANE_STATUS_NO_DOCS);
    sane_cancel(handle_);
    EXPECT_EQ(Micr(), "0C3");
    // The stack is over: options change again.
    SetString("source", "ADF Front");
}

TEST_F(SaneApiTest, FrontOnlyAndMicrReadingOff) {
    world_.Settings(TestIni(0));
    world_.Scenario(FastScenario(R"([{"micr": "T1."}, {"micr": "T2."}])"));
    Open();
    SetString("source", "Front");
    for (int doc = 0; doc < 2; ++doc) {
        ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD);
        EXPECT_EQ(Micr(), "");
        SANE_Parameters p{};
        ReadFrame(&p);
    }
    EXPECT_EQ(sane_start(handle_), SANE_STATUS_NO_DOCS);
    EXPECT_FALSE(fs::exists(world_.Record(0, false)));  // the scanner was asked for fronts only
}

TEST_F(SaneApiTest, ParametersBeforeAScanAreThoseOfItsPages) {
    world_.Scenario(FastScenario("[{}, {}, {}, {}, {}, {}, {}, {}]"));
    Open();
    SANE_Word fixed = SANE_FALSE;  // a fixed length: the lines are known before
    ASSERT_EQ(sane_control_option(handle_, Find(handle_, "auto-length"), SANE_ACTION_SET_VALUE,
                                  &fixed, nullptr),
              SANE_STATUS_GOOD);
    const struct {
        const char* profile;
        const char* mode;
    } cases[] = {{"Check", "Lineart"}, {"Check", "Gray"}, {"Gray", "Gray"},
                 {"Gray16", "Gray"},   {"Wide", "Gray"},  {"Wide", "Lineart"}};
    for (const auto& c : cases) {
        if (handle_ == nullptr) {
            ASSERT_EQ(sane_open("orvoscan", &handle_), SANE_STATUS_GOOD);
            ASSERT_EQ(sane_control_option(handle_, Find(handle_, "auto-length"),
                                          SANE_ACTION_SET_VALUE, &fixed, nullptr),
                      SANE_STATUS_GOOD);
        }
        SetString("profile", c.profile);
        SetString("mode", c.mode);
        SANE_Parameters before{};
        ASSERT_EQ(sane_get_parameters(handle_, &before), SANE_STATUS_GOOD);
        ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD) << c.profile << " " << c.mode;
        SANE_Parameters after{};
        const std::vector<uint8_t> bytes = ReadFrame(&after);
        EXPECT_EQ(before.format, SANE_FRAME_GRAY);
        EXPECT_TRUE(after.last_frame);
        EXPECT_EQ(after.depth, before.depth) << c.profile << " " << c.mode;
        EXPECT_EQ(after.pixels_per_line, before.pixels_per_line) << c.profile << " " << c.mode;
        EXPECT_EQ(after.bytes_per_line, before.bytes_per_line) << c.profile << " " << c.mode;
        EXPECT_EQ(after.lines, before.lines) << c.profile << " " << c.mode;
        EXPECT_EQ(bytes.size(), static_cast<std::size_t>(after.bytes_per_line) * after.lines);
        // The stack goes on after a whole frame: closing ends it.
        sane_close(handle_);
        handle_ = nullptr;
    }
    ASSERT_EQ(sane_open("orvoscan", &handle_), SANE_STATUS_GOOD);
    SetString("profile", "Wide");
    SetString("mode", "Lineart");
    // Widened 300 dpi pages: 800 pixels scanned, 1200 delivered.
    SANE_Parameters wide{};
    ASSERT_EQ(sane_get_parameters(handle_, &wide), SANE_STATUS_GOOD);
    EXPECT_EQ(wide.pixels_per_line, 1200);
    EXPECT_EQ(wide.depth, 1);
}

TEST_F(SaneApiTest, SixteenLevelGrayIsDeliveredAsEightBits) {
    world_.Scenario(FastScenario("[{}]"));
    Open();
    SetString("profile", "Gray16");
    ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD);
    SANE_Parameters p{};
    const std::vector<uint8_t> bytes = ReadFrame(&p);
    EXPECT_EQ(p.depth, 8);
    ExpectSameAsScanned(FromFrame(bytes, p.depth, p.pixels_per_line, p.bytes_per_line, p.lines),
                        world_.Record(0, true), /*plainRows=*/true);
}

TEST_F(SaneApiTest, CancelInTheMiddleOfAPageEndsTheBatch) {
    world_.Scenario(FastScenario(R"([{"micr": "FIRST."}, {"micr": "SECOND."}])"));
    Open();
    ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD);
    SANE_Byte chunk[100];
    SANE_Int n = 0;
    ASSERT_EQ(sane_read(handle_, chunk, sizeof chunk, &n), SANE_STATUS_GOOD);
    EXPECT_EQ(n, 100);
    sane_cancel(handle_);
    EXPECT_EQ(sane_read(handle_, chunk, sizeof chunk, &n), SANE_STATUS_CANCELLED);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(sane_read(handle_, chunk, sizeof chunk, &n), SANE_STATUS_CANCELLED);
    // Options may change again; the next start is a new batch from the top
    // of the stack (the virtual scanner feeds it again).
    SetString("source", "Front");
    ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD);
    EXPECT_EQ(Micr(), "0FIRST");
    SANE_Parameters p{};
    ReadFrame(&p);
    ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD);
    EXPECT_EQ(Micr(), "0SECOND");
}

TEST_F(SaneApiTest, CancelFromAnotherThreadEndsTheWaitForTheNextCheque) {
    // The driver's clock at its real speed: the second cheque would come
    // after ten minutes, and the driver's idle end after 25 s; only the stop
    // ends the wait sooner.
    world_.timeScale = "1";
    world_.Apply();
    world_.Scenario(FastScenario(R"([{}, {"pauseBeforeMs": 600000}])"));
    Open();
    for (int side = 0; side < 2; ++side) {
        ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD);
        SANE_Parameters p{};
        ReadFrame(&p);
    }
    std::atomic<bool> cancelled{false};
    std::thread stopper([&] {
        // Once the driver waits for the third page.
        if (world_.AwaitPageCall(3)) sane_cancel(handle_);
        cancelled = true;
    });
    EXPECT_EQ(sane_start(handle_), SANE_STATUS_CANCELLED);
    stopper.join();
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(world_.PageCalls(), 3);
    SANE_Int n = 0;
    SANE_Byte b[4];
    EXPECT_EQ(sane_read(handle_, b, sizeof b, &n), SANE_STATUS_CANCELLED);
}

TEST_F(SaneApiTest, OptionsAreRefusedWhileABatchRuns) {
    Open();
    ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD);
    char mode[] = "Gray";
    SANE_Int info = 0;
    EXPECT_EQ(
        sane_control_option(handle_, Find(handle_, "mode"), SANE_ACTION_SET_VALUE, mode, &info),
        SANE_STATUS_DEVICE_BUSY);
    char value[16] = {};
    EXPECT_EQ(
        sane_control_option(handle_, Find(handle_, "mode"), SANE_ACTION_GET_VALUE, value, nullptr),
        SANE_STATUS_GOOD);
    EXPECT_STREQ(value, "Lineart");
    sane_cancel(handle_);
    EXPECT_EQ(
        sane_control_option(handle_, Find(handle_, "mode"), SANE_ACTION_SET_VALUE, mode, &info),
        SANE_STATUS_GOOD);
    // After a whole frame and a cancel the stack goes on: its values stay,
    // and setting the value an option has is taken.
    ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD);
    SANE_Parameters p{};
    ReadFrame(&p);
    sane_cancel(handle_);
    char lineart[] = "Lineart";
    EXPECT_EQ(
        sane_control_option(handle_, Find(handle_, "mode"), SANE_ACTION_SET_VALUE, lineart, &info),
        SANE_STATUS_DEVICE_BUSY);
    EXPECT_EQ(
        sane_control_option(handle_, Find(handle_, "mode"), SANE_ACTION_SET_VALUE, mode, &info),
        SANE_STATUS_GOOD);
}

TEST_F(SaneApiTest, JamAfterTwoChequesAndANewBatchAfterIt) {
    world_.Scenario(FastScenario(R"([{}, {}, {"jam": "jam2"}, {}])"));
    Open();
    for (int page = 0; page < 4; ++page) {
        ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD) << page;
        SANE_Parameters p{};
        const std::vector<uint8_t> bytes = ReadFrame(&p);
        ExpectSameAsScanned(FromFrame(bytes, p.depth, p.pixels_per_line, p.bytes_per_line, p.lines),
                            world_.Record(page / 2, page % 2 == 0));
    }
    EXPECT_EQ(sane_start(handle_), SANE_STATUS_JAMMED);
    sane_cancel(handle_);
    // Cleared by the operator: the next start is a new batch (the virtual
    // scanner feeds its stack from the top again).
    ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD);
    SANE_Parameters p{};
    ReadFrame(&p);
    sane_cancel(handle_);
}

TEST_F(SaneApiTest, CoverOpen) {
    world_.Scenario(R"({"latency": {"commandMs": 0, "blockMs": 0, "documentIntervalMs": 0},
        "commandFaults": [{"opcode": "0x1B", "action": "checkCondition", "error": "coverOpen"}]})");
    Open();
    EXPECT_EQ(sane_start(handle_), SANE_STATUS_COVER_OPEN);
}

TEST_F(SaneApiTest, DoubleFeedIsAJam) {
    world_.Scenario(FastScenario(R"([{}, {"jam": "doubleFeed"}])"));
    Open();
    SetString("source", "Front");
    ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD);
    EXPECT_EQ(sane_start(handle_), SANE_STATUS_JAMMED);
}

TEST_F(SaneApiTest, TheOperatorsSettingsStayAsTheyWereAndNothingIsLeftBehind) {
    const std::string before = ReadText(world_.sys / "OrvoScan.ini");
    Open();
    SetString("profile", "Gray");
    SetString("mode", "Lineart");
    SANE_Word dpi = 300;
    ASSERT_EQ(sane_control_option(handle_, Find(handle_, "resolution"), SANE_ACTION_SET_VALUE, &dpi,
                                  nullptr),
              SANE_STATUS_GOOD);
    ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD);
    SANE_Parameters p{};
    ReadFrame(&p);
    EXPECT_EQ(p.depth, 1);
    EXPECT_EQ(p.pixels_per_line, 1536);  // 128 mm at 12 pixels per mm
    sane_cancel(handle_);
    sane_close(handle_);
    handle_ = nullptr;
    EXPECT_EQ(ReadText(world_.sys / "OrvoScan.ini"), before);
    const fs::path mine = world_.dir / ("orvoscan-" + std::to_string(geteuid())) /
                          ("sane-" + std::to_string(getpid()));
    EXPECT_TRUE(fs::exists(mine));
    sane_exit();
    initialised_ = false;
    EXPECT_FALSE(fs::exists(mine));
    EXPECT_EQ(std::getenv("ORVOSCAN_SYSTEM_DIR"), world_.sys.string());
}

TEST_F(SaneApiTest, OneHandleAtATimeAndReopenAfterExit) {
    Open();
    SANE_Handle second = nullptr;
    EXPECT_EQ(sane_open("orvoscan", &second), SANE_STATUS_DEVICE_BUSY);
    EXPECT_EQ(sane_open("orvoscan:scsi", &second), SANE_STATUS_INVAL);
    sane_close(handle_);
    handle_ = nullptr;
    sane_exit();
    initialised_ = false;
    // A frontend that starts SANE again in the same process.
    Open();
    ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD);
    sane_cancel(handle_);
}

// Open descriptors of this process.
int OpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

TEST_F(SaneApiTest, StartingSaneAgainAndAgainLosesNothing) {
    // SANE's dll backend unloads the backend at every sane_exit; the driver
    // it uses must not take an event (or its state) with it each time.
    auto cycle = [this] {
        Open();
        ASSERT_EQ(sane_start(handle_), SANE_STATUS_GOOD);
        sane_cancel(handle_);
        sane_close(handle_);
        handle_ = nullptr;
        sane_exit();
        initialised_ = false;
    };
    cycle();
    const int after = OpenDescriptors();
    for (int i = 0; i < 4; ++i) cycle();
    EXPECT_EQ(OpenDescriptors(), after);
}

TEST_F(SaneApiTest, TheDeviceList) {
    SANE_Int version = 0;
    ASSERT_EQ(sane_init(&version, nullptr), SANE_STATUS_GOOD);
    initialised_ = true;
    const SANE_Device** list = nullptr;
    ASSERT_EQ(sane_get_devices(&list, SANE_FALSE), SANE_STATUS_GOOD);
    ASSERT_NE(list[0], nullptr);
    EXPECT_STREQ(list[0]->name, "orvoscan:virtual");
    EXPECT_STREQ(list[0]->vendor, "OrvoData");
    EXPECT_STREQ(list[0]->model, "QXS-7100 (QV710)");
    EXPECT_STREQ(list[0]->type, "cheque scanner");
    EXPECT_EQ(list[1], nullptr);
    ASSERT_EQ(sane_open(list[0]->name, &handle_), SANE_STATUS_GOOD);
}

TEST_F(SaneApiTest, NoScannerNoDevice) {
    world_.Scenario(R"({"present": false})");
    SANE_Int version = 0;
    ASSERT_EQ(sane_init(&version, nullptr), SANE_STATUS_GOOD);
    initialised_ = true;
    const SANE_Device** list = nullptr;
    ASSERT_EQ(sane_get_devices(&list, SANE_FALSE), SANE_STATUS_GOOD);
    EXPECT_EQ(list[0], nullptr);
    EXPECT_EQ(sane_open("orvoscan", &handle_), SANE_STATUS_INVAL);
}

}  // namespace
}  // namespace sane_e2e
