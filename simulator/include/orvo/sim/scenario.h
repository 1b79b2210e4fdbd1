// What the virtual scanner is and does: where it sits on the bus, how it
// identifies itself, the stack of cheques it feeds, its timing and the faults
// it produces on purpose. Scenario files are JSON (see simulator/README.md).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "orvo/sim/image.h"

namespace orvo::sim {

// Sense bytes 3 and 4 of the scanner's error conditions.
struct SenseBits {
    uint8_t byte3 = 0;
    uint8_t byte4 = 0;
};
// Names: "jam1".."jam4", "elevationSetup", "elevationHome", "doubleFeed",
// "noDocument", "coverOpen", "micrError", "modelError", "none" (no bit: the
// driver sees an unknown error). False for an unknown name.
bool SenseByName(const std::string& name, SenseBits* out);

enum class FaultAction {
    CheckCondition,    // CHECK CONDITION with the sense bits
    SelectionTimeout,  // SS_ERR, host adapter status 0x11
    NoCompletion,      // the request never finishes
    NotClean,          // srbStatus/haStat/targStat as given, no CHECK CONDITION
};

// A fault on the commands with one operation code, from its `occurrence`-th
// execution (1 = first since the last reset) for `count` executions.
struct CommandFault {
    uint8_t opcode = 0;
    int occurrence = 1;
    int count = 1;
    FaultAction action = FaultAction::CheckCondition;
    SenseBits sense;
    uint8_t srbStatus = 0x04;  // NotClean: SS_ERR, target BUSY
    uint8_t haStat = 0x00;
    uint8_t targStat = 0x08;
};

enum class Repeat { Never, Once, Always };

// Faults of one side of a document. "Once" faults only spoil the first
// delivery of the side; a re-read gets good data.
struct SideFaults {
    Repeat wrongMarkers = Repeat::Never;
    Repeat noRtc = Repeat::Never;
    int claimBlocks = -1;  // >= 0: nBlockToReceive sent instead of the real count
    bool micrNoCr = false;
};

// Image defects planted on one side of a document, as a bad document or a
// worn scanner makes them; applied in this order: blank, lines, skew,
// brightness, specks, then the fit to the window, then streaks.
struct PageDefects {
    bool blank = false;        // nothing on the side: plain paper
    int lines = 0;             // > 0: the document's own length in lines; shorter is torn,
                               // longer is the next cheque following (two fed as one)
    double skewDegrees = 0;    // the document turned about its centre, counter-clockwise
    int brightness = 0;        // added to every level, -255..255: dark or light pages
    int specks = 0;            // isolated dark specks (2 x 2) scattered over light paper
    std::vector<int> streaks;  // columns a dirty sensor element draws dark (2 wide) over the
                               // whole scan
    bool any() const {
        return blank || lines > 0 || skewDegrees != 0 || brightness != 0 || specks > 0 ||
               !streaks.empty();
    }
};

// Where a page image comes from: a loaded image, else a synthetic cheque.
// With `data`, the side carries these bytes verbatim as its image data (for
// coded data made elsewhere, e.g. by another T.4 encoder); the image then
// only gives nothing.
struct PageSource {
    std::shared_ptr<const Image> image;
    int syntheticSeed = 0;
    std::shared_ptr<const std::vector<uint8_t>> data;
};

struct Document {
    PageSource front;
    PageSource rear;
    std::string micr;
    SideFaults frontFaults;
    SideFaults rearFaults;
    PageDefects frontDefects;
    PageDefects rearDefects;
    uint32_t pauseBeforeMs = 0;  // extra feed time before this document
    bool jam = false;            // CHECK CONDITION instead of this document
    SenseBits jamSense;
};

struct Latency {
    uint32_t commandMs = 1;             // every command
    uint32_t blockMs = 4;               // each READ BUFFER block
    uint32_t documentIntervalMs = 600;  // feed time per document (about 100 per minute)
};

struct Scenario {
    int adapterCount = 1;
    int adapter = 0;
    int target = 3;
    bool present = true;
    std::string vendor = "OrvoData";
    std::string product = "QXS-7100 (QV710)";
    std::string revision = "1.00";
    std::vector<Document> documents;
    std::vector<CommandFault> commandFaults;
    Latency latency;
    bool alignEol = false;  // fill bits before EOLs (byte-aligned EOLs)
    bool terminateAtFirstPoll = false;
    std::array<uint8_t, 12> qaBlock{7, 7, 32, 7, 7, 32, 5, 8, 4, 5, 0, 0};
    // When set, every document the device loads is also written there:
    // docNNNN.bin (its buffer as the host reads it, front blocks then rear
    // blocks) and docNNNN_front.pgm / docNNNN_rear.pgm (the values it
    // scanned: 0/1, 0-15 or 0-255 by depth). ORVOSCAN_SIM_RECORD_DIR sets it.
    std::string recordDir;
    // The file that stands for the device node: the driver's lock on the
    // scanner is taken on it, so virtual scanners of several processes that
    // name the same file are one scanner to the lock. Empty: the scanner
    // belongs to its process alone.
    std::string deviceNode;
};

// The default stack: ten cheques with synthetic images and plausible MICR
// lines, two of them with read-error characters.
std::vector<Document> DefaultStack(int count = 10);
// A scenario with the default stack.
Scenario DefaultScenario();
// No waiting at all: every command, block and feed answered at once.
inline constexpr Latency kNoLatency{0, 0, 0};
// A scenario without delays: `documents` cheques of the default stack (tests,
// benchmarks).
Scenario FastScenario(int documents);

// Parses scenario JSON; image paths are relative to baseDir. On error returns
// false with the reason and leaves *out untouched.
bool ParseScenario(const std::string& json, const std::string& baseDir, Scenario* out,
                   std::string* error);
// Reads a scenario file; on any error writes the reason to stderr and returns
// the default scenario.
Scenario LoadScenarioFile(const std::string& path);

}  // namespace orvo::sim
