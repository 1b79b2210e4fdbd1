// The virtual scanner: one process-wide device that answers the SCSI
// requests of the ASPI layer like the real cheque scanner, feeds the stack of
// its scenario and records what it was sent, for tests to read back.
// Thread-safe: the layer executes requests, on its dispatch thread or on the
// submitting thread, while tests inspect the device from their own threads.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "orvo/aspi/backend.h"
#include "orvo/sim/scenario.h"
#include "orvo/sim/side_data.h"
#include "orvo/sim/window.h"

namespace orvo::sim {

// Operation codes of the scanner's command set.
namespace op = commandset::op;

// Outcome of one request as the device answered it.
enum class Outcome {
    Good,
    CheckCondition,
    SelectionTimeout,
    NoCompletion,
    NotClean,
    InvalidAdapter
};
const char* OutcomeName(Outcome o);

struct CommandRecord {
    uint8_t adapter = 0;
    uint8_t target = 0;
    uint8_t opcode = 0;
    std::vector<uint8_t> cdb;  // cdbLength bytes
    aspi::Direction direction = aspi::Direction::None;
    uint32_t dataLength = 0;
    Outcome outcome = Outcome::Good;
    SenseBits sense;          // for CHECK CONDITION
    uint8_t statusByte3 = 0;  // GET DATA BUFFER STATUS: byte 3 returned
    int block = -1;           // READ BUFFER: block index
    // GET DATA BUFFER STATUS that announced a document: how long (in driver
    // milliseconds) the document had been ready before this poll came.
    int readyForMs = -1;
};

class Scanner {
  public:
    Scanner();

    // Replaces the scenario and resets the device.
    void SetScenario(Scenario scenario);
    Scenario scenario() const;
    // Back to power-on: feed stopped, window and QA block as at power-on,
    // counters and records cleared. The scenario stays.
    void Reset();

    aspi::Reply Execute(const aspi::Request& request);
    // The longest Execute() takes for this request, in real milliseconds:
    // the scenario's command time, and the block time for a READ BUFFER;
    // no bound for a poll that may announce a document.
    uint32_t AnswerBoundMs(const aspi::Request& request) const;
    uint32_t SupportInfo() const;

    // Records.
    std::vector<WindowSettings> Windows() const;            // every SET WINDOW block
    std::vector<std::array<uint8_t, 12>> QaWrites() const;  // every QA block written
    std::array<uint8_t, 12> QaBlock() const;                // the stored QA block
    std::vector<uint8_t> QaActions() const;                 // opcodes 0x40/0x41 received
    // The newest records: when the log reaches kCommandLogLimit records, the
    // older half is dropped.
    std::vector<CommandRecord> CommandLog() const;
    static constexpr std::size_t kCommandLogLimit = 100000;
    int DocumentsAnnounced() const;  // documents whose data were offered

  private:
    struct Current {
        int index = 0;
        DocumentData clean;
        std::optional<DocumentData> firstPass;  // with the faults that spoil one delivery
        bool read = false;
        int frontReads = 0;
        int rearReads = 0;
    };
    enum class Feed { Idle, Feeding, Ended, Jammed };

    aspi::Reply Handle(const aspi::Request& r, CommandRecord* rec, uint32_t* sleepMs);
    aspi::Reply GetDataBufferStatus(CommandRecord* rec);
    aspi::Reply ReadBuffer(const aspi::Request& r, CommandRecord* rec, uint32_t* sleepMs);
    void StartFeed();
    void LoadDocument(int index);
    void Record(int index, const DocumentData& doc, const Image& front, const Image& rear) const;
    uint32_t PauseBefore(int index) const;

    mutable std::mutex mutex_;
    Scenario scenario_;
    WindowSettings window_;
    std::vector<WindowSettings> windows_;
    std::array<uint8_t, 12> qa_{};
    std::vector<std::array<uint8_t, 12>> qaWrites_;
    std::vector<uint8_t> qaActions_;
    std::vector<CommandRecord> log_;
    std::map<uint8_t, int> opcodeCount_;
    Feed feed_ = Feed::Idle;
    bool firstPoll_ = false;
    int nextDoc_ = 0;
    int docLimit_ = 0;
    uint32_t readyAt_ = 0;
    SenseBits jamSense_;
    std::unique_ptr<Current> current_;
    int announced_ = 0;
};

Scanner& TheScanner();

}  // namespace orvo::sim
