#include "orvo/sim/scanner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "orvo/platform/clock.h"
#include "wnaspi32.h"

namespace orvo::sim {
namespace {

constexpr uint8_t kKeyNotReady = 0x02;
constexpr uint8_t kKeyHardware = 0x04;
constexpr uint8_t kKeyIllegal = 0x05;
constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscInvalidField = 0x24;
constexpr uint8_t kAscParameterLength = 0x1A;
constexpr uint8_t kAscSequence = 0x2C;  // command sequence error

using commandset::kBufferStatusSize;
using commandset::kInquirySize;
using commandset::kQaBlockSize;
namespace cdb = commandset::cdb;

aspi::Reply Check(SenseBits bits, uint8_t key, uint8_t asc, CommandRecord* rec) {
    aspi::Reply reply;
    reply.srbStatus = SS_ERR;
    reply.targStat = STATUS_CHKCOND;
    // Fixed-format sense data; the scanner's error bits live in bytes 3 and 4.
    reply.sense.assign(18, 0);
    reply.sense[0] = 0x70;
    reply.sense[2] = key;
    reply.sense[3] = bits.byte3;
    reply.sense[4] = bits.byte4;
    reply.sense[7] = 10;
    reply.sense[12] = asc;
    rec->outcome = Outcome::CheckCondition;
    rec->sense = bits;
    return reply;
}

aspi::Reply Malformed(uint8_t asc, CommandRecord* rec) {
    return Check({}, kKeyIllegal, asc, rec);
}

// True when the CDB has the expected length and bytes; `any` marks bytes
// that may hold any value.
bool CdbIs(const aspi::Request& r, std::initializer_list<int> expected) {
    if (r.cdbLength != expected.size()) return false;
    size_t i = 0;
    for (int e : expected) {
        if (e >= 0 && r.cdb[i] != e) return false;
        ++i;
    }
    return true;
}
constexpr int kAny = -1;

bool Ticked(uint32_t now, uint32_t due) {
    return static_cast<int32_t>(now - due) >= 0;
}

void PadCopy(uint8_t* dst, const std::string& text, size_t width) {
    std::memset(dst, ' ', width);
    std::memcpy(dst, text.data(), std::min(text.size(), width));
}

Image PageOf(const PageSource& p, bool front) {
    return p.image ? *p.image : SyntheticCheque(p.syntheticSeed, front);
}

}  // namespace

const char* OutcomeName(Outcome o) {
    switch (o) {
        case Outcome::Good:
            return "good";
        case Outcome::CheckCondition:
            return "check condition";
        case Outcome::SelectionTimeout:
            return "selection time-out";
        case Outcome::NoCompletion:
            return "no completion";
        case Outcome::NotClean:
            return "not clean";
        case Outcome::InvalidAdapter:
            return "invalid adapter";
    }
    return "?";
}

Scanner::Scanner() {
    scenario_ = DefaultScenario();
    qa_ = scenario_.qaBlock;
    window_ = WindowSettings::PowerOn();
}

void Scanner::SetScenario(Scenario scenario) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        scenario_ = std::move(scenario);
    }
    Reset();
}

Scenario Scanner::scenario() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return scenario_;
}

void Scanner::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    window_ = WindowSettings::PowerOn();
    windows_.clear();
    qa_ = scenario_.qaBlock;
    qaWrites_.clear();
    qaActions_.clear();
    log_.clear();
    opcodeCount_.clear();
    feed_ = Feed::Idle;
    current_.reset();
    nextDoc_ = 0;
    announced_ = 0;
}

uint32_t Scanner::SupportInfo() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return (static_cast<uint32_t>(SS_COMP) << 8) |
           static_cast<uint32_t>(scenario_.adapterCount & 0xFF);
}

std::vector<WindowSettings> Scanner::Windows() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return windows_;
}
std::vector<std::array<uint8_t, 12>> Scanner::QaWrites() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return qaWrites_;
}
std::array<uint8_t, 12> Scanner::QaBlock() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return qa_;
}
std::vector<uint8_t> Scanner::QaActions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return qaActions_;
}
std::vector<CommandRecord> Scanner::CommandLog() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}
int Scanner::DocumentsAnnounced() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return announced_;
}

aspi::Reply Scanner::Execute(const aspi::Request& request) {
    uint32_t sleepMs = 0;
    aspi::Reply reply;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        CommandRecord rec;
        rec.adapter = request.adapter;
        rec.target = request.target;
        rec.opcode = request.cdb[0];
        rec.cdb.assign(
            request.cdb.begin(),
            request.cdb.begin() + std::min<size_t>(request.cdbLength, request.cdb.size()));
        rec.direction = request.direction;
        rec.dataLength = request.transferLength;
        reply = Handle(request, &rec, &sleepMs);
        if (reply.dataIn.size() > request.transferLength)
            reply.dataIn.resize(request.transferLength);
        // A long run keeps the newest records only, so memory stays bounded.
        if (log_.size() >= kCommandLogLimit) {
            log_.erase(log_.begin(),
                       log_.begin() + static_cast<std::ptrdiff_t>(kCommandLogLimit / 2));
        }
        log_.push_back(std::move(rec));
    }
    if (sleepMs > 0) platform::SleepMs(sleepMs);
    return reply;
}

uint32_t Scanner::AnswerBoundMs(const aspi::Request& request) const {
    std::lock_guard<std::mutex> lock(mutex_);
    // A poll that announces the next document first builds its images: that
    // is computing, bounded by no latency of the scenario.
    if (request.cdb[0] == op::kGetDataBufferStatus && feed_ == Feed::Feeding &&
        (current_ ? current_->read : Ticked(platform::TickCount(), readyAt_))) {
        return aspi::Backend::kNoAnswerBound;
    }
    uint32_t ms = scenario_.latency.commandMs;
    if (request.cdb[0] == op::kReadBuffer) ms += scenario_.latency.blockMs;
    return platform::RealMs(ms);
}

aspi::Reply Scanner::Handle(const aspi::Request& r, CommandRecord* rec, uint32_t* sleepMs) {
    aspi::Reply reply;
    if (r.adapter >= scenario_.adapterCount) {
        reply.srbStatus = SS_INVALID_HA;
        rec->outcome = Outcome::InvalidAdapter;
        return reply;
    }
    if (!scenario_.present || r.adapter != scenario_.adapter || r.target != scenario_.target) {
        reply.srbStatus = SS_ERR;
        reply.haStat = HASTAT_SEL_TO;
        rec->outcome = Outcome::SelectionTimeout;
        return reply;
    }
    *sleepMs = scenario_.latency.commandMs;
    uint8_t opcode = r.cdb[0];
    int occurrence = ++opcodeCount_[opcode];
    for (const CommandFault& f : scenario_.commandFaults) {
        if (f.opcode != opcode || occurrence < f.occurrence ||
            static_cast<long>(occurrence) >= static_cast<long>(f.occurrence) + f.count)
            continue;
        switch (f.action) {
            case FaultAction::CheckCondition:
                return Check(f.sense, kKeyHardware, 0x44, rec);
            case FaultAction::SelectionTimeout:
                reply.srbStatus = SS_ERR;
                reply.haStat = HASTAT_SEL_TO;
                rec->outcome = Outcome::SelectionTimeout;
                return reply;
            case FaultAction::NoCompletion:
                reply.completes = false;
                rec->outcome = Outcome::NoCompletion;
                return reply;
            case FaultAction::NotClean:
                reply.srbStatus = f.srbStatus;
                reply.haStat = f.haStat;
                reply.targStat = f.targStat;
                rec->outcome = Outcome::NotClean;
                return reply;
        }
    }
    if (r.lun != 0) return Malformed(kAscInvalidField, rec);

    using aspi::Direction;
    switch (opcode) {
        case op::kInquiry: {
            if (!CdbIs(r, {op::kInquiry, 0, 0, 0, kAny, 0}) || r.direction != Direction::In)
                return Malformed(kAscInvalidField, rec);
            std::vector<uint8_t> data(kInquirySize, 0);
            data[0] = 0x06;  // scanner device
            data[2] = 0x02;
            data[3] = 0x02;
            data[4] = static_cast<uint8_t>(kInquirySize - 5);
            PadCopy(&data[8], scenario_.vendor, 8);
            PadCopy(&data[16], scenario_.product, 16);
            PadCopy(&data[32], scenario_.revision, 4);
            data.resize(std::min<size_t>(data.size(), r.cdb[4]));
            reply.dataIn = std::move(data);
            return reply;
        }
        case op::kTestUnitReady:
            if (!(CdbIs(r, {op::kTestUnitReady, 0, 0, 0, 0, 0}) ||
                  CdbIs(r, {op::kTestUnitReady, 0, 0, 0, 0, 0, 0, 0, 0, 0})) ||
                r.transferLength != 0)
                return Malformed(kAscInvalidField, rec);
            return reply;
        case op::kSetWindow: {
            if (!CdbIs(r, {op::kSetWindow, 0, 0, 0, 0, 0, 0, 0, kWindowBlockSize, 0}))
                return Malformed(kAscInvalidField, rec);
            if (r.direction != Direction::Out || r.transferLength != kWindowBlockSize ||
                r.dataOut.size() < kWindowBlockSize)
                return Malformed(kAscParameterLength, rec);
            WindowSettings w = WindowSettings::Decode(r.dataOut.data());
            if (w.blockLength != static_cast<int>(kWindowBlockSize))
                return Malformed(kAscParameterLength, rec);
            window_ = w;
            windows_.push_back(w);
            return reply;
        }
        case op::kScan:
            if (!CdbIs(r, {op::kScan, 0, 0, 0, 0, 0, 0, 0, 0, 0}) || r.transferLength != 0)
                return Malformed(kAscInvalidField, rec);
            StartFeed();
            return reply;
        case op::kGetDataBufferStatus:
            if (!CdbIs(r, {op::kGetDataBufferStatus, 0, 0, 0, 0, 0, 0, 0, kBufferStatusSize, 0}))
                return Malformed(kAscInvalidField, rec);
            if (r.direction != Direction::In || r.transferLength != kBufferStatusSize)
                return Malformed(kAscParameterLength, rec);
            return GetDataBufferStatus(rec);
        case op::kReadBuffer:
            if (!CdbIs(r, {op::kReadBuffer, cdb::kReadBufferMode, 0, kAny, kAny, kAny, 0,
                           cdb::kReadBufferLengthValue, 0, 0}))
                return Malformed(kAscInvalidField, rec);
            if (r.direction != Direction::In || r.transferLength != kBlockSize)
                return Malformed(kAscParameterLength, rec);
            return ReadBuffer(r, rec, sleepMs);
        case op::kTerminate:
            if (!CdbIs(r, {op::kTerminate, 0, 0, 0, 0, 0, 0, 0, 0, 0}) || r.transferLength != 0)
                return Malformed(kAscInvalidField, rec);
            feed_ = Feed::Idle;
            current_.reset();
            return reply;
        case op::kQaAction0:
        case op::kQaAction1:
            if (!CdbIs(r, {opcode, 0, 0, 0, 0, 0, 0, 0, 0, 0}) || r.transferLength != 0)
                return Malformed(kAscInvalidField, rec);
            qaActions_.push_back(opcode);
            return reply;
        case op::kQaRead:
            if (!CdbIs(r, {op::kQaRead, 0, 0, 0, kQaBlockSize, 0}))
                return Malformed(kAscInvalidField, rec);
            if (r.direction != Direction::In || r.transferLength != kQaBlockSize)
                return Malformed(kAscParameterLength, rec);
            reply.dataIn.assign(qa_.begin(), qa_.end());
            return reply;
        case op::kQaWrite: {
            if (!CdbIs(r, {op::kQaWrite, 0, 0, 0, kQaBlockSize, 0}))
                return Malformed(kAscInvalidField, rec);
            if (r.direction != Direction::Out || r.transferLength != kQaBlockSize ||
                r.dataOut.size() < kQaBlockSize)
                return Malformed(kAscParameterLength, rec);
            std::copy_n(r.dataOut.begin(), kQaBlockSize, qa_.begin());
            qaWrites_.push_back(qa_);
            return reply;
        }
        default:
            return Malformed(kAscInvalidOpcode, rec);
    }
}

uint32_t Scanner::PauseBefore(int index) const {
    uint32_t pause = scenario_.latency.documentIntervalMs;
    if (index >= 0 && index < static_cast<int>(scenario_.documents.size()))
        pause += scenario_.documents[static_cast<size_t>(index)].pauseBeforeMs;
    return pause;
}

void Scanner::StartFeed() {
    feed_ = Feed::Feeding;
    firstPoll_ = true;
    current_.reset();
    nextDoc_ = 0;
    int stack = static_cast<int>(scenario_.documents.size());
    docLimit_ = window_.limitScanCount ? std::min(stack, window_.scanCount) : stack;
    readyAt_ = platform::TickCount() + PauseBefore(0);
}

// Writes what the device sends for a document, and the values it scanned, to
// the record directory (best effort: a record that cannot be written is
// skipped, the device goes on).
void Scanner::Record(int index, const DocumentData& doc, const Image& front,
                     const Image& rear) const {
    char name[32];
    std::snprintf(name, sizeof name, "/doc%04d", index);
    const std::string base = scenario_.recordDir + name;
    if (std::FILE* f = std::fopen((base + ".bin").c_str(), "wb")) {
        std::fwrite(doc.bytes.data(), 1, doc.bytes.size(), f);
        std::fclose(f);
    }
    const int bpp = SideBitsPerPixel(window_);
    const int maxval = bpp == 1 ? 1 : bpp == 4 ? 15 : 255;
    auto pgm = [&](const Image& page, const char* side) {
        const Image values = SideValues(page, window_);
        std::FILE* f = std::fopen((base + side).c_str(), "wb");
        if (!f) return;
        std::fprintf(f, "P5\n%d %d\n%d\n", values.width, values.height, maxval);
        std::fwrite(values.pixels.data(), 1, values.pixels.size(), f);
        std::fclose(f);
    };
    pgm(front, "_front.pgm");
    if (!window_.frontOnly) pgm(rear, "_rear.pgm");
}

void Scanner::LoadDocument(int index) {
    const Document& d = scenario_.documents[static_cast<size_t>(index)];
    auto cur = std::make_unique<Current>();
    cur->index = index;
    auto options = [&](const SideFaults& f, bool firstPass) {
        SideOptions o;
        o.micr = d.micr;
        o.alignEol = scenario_.alignEol;
        o.claimBlocks = f.claimBlocks;
        o.micrNoCr = f.micrNoCr;
        o.wrongMarkers =
            f.wrongMarkers == Repeat::Always || (firstPass && f.wrongMarkers == Repeat::Once);
        o.omitRtc = f.noRtc == Repeat::Always || (firstPass && f.noRtc == Repeat::Once);
        return o;
    };
    // The pages as the sensor sees them: the document's own defects, the
    // fit to the window, then the sensor's streaks.
    auto scanned = [&](const PageSource& src, bool isFront, const PageDefects& defects) {
        Image page = PageOf(src, isFront);
        if (!defects.any()) return page;
        page = FitToWindow(WithDefects(page, defects, index * 2 + (isFront ? 0 : 1)), window_);
        DrawStreaks(page, defects.streaks);
        return page;
    };
    Image front = scanned(d.front, true, d.frontDefects);
    Image rear = scanned(d.rear, false, d.rearDefects);
    auto clean = [&](const SideFaults& f, const PageSource& src) {
        SideOptions o = options(f, false);
        o.imageData = src.data.get();
        return o;
    };
    auto first = [&](const SideFaults& f, const PageSource& src) {
        SideOptions o = options(f, true);
        o.imageData = src.data.get();
        return o;
    };
    cur->clean = BuildDocument(front, clean(d.frontFaults, d.front), &rear,
                               clean(d.rearFaults, d.rear), window_);
    if (!scenario_.recordDir.empty()) Record(index, cur->clean, front, rear);
    auto once = [](const SideFaults& f) {
        return f.wrongMarkers == Repeat::Once || f.noRtc == Repeat::Once;
    };
    if (once(d.frontFaults) || once(d.rearFaults))
        cur->firstPass = BuildDocument(front, first(d.frontFaults, d.front), &rear,
                                       first(d.rearFaults, d.rear), window_);
    current_ = std::move(cur);
}

aspi::Reply Scanner::GetDataBufferStatus(CommandRecord* rec) {
    aspi::Reply reply;
    reply.dataIn.assign(kBufferStatusSize, 0);
    uint8_t& status = reply.dataIn[commandset::status::kByte];
    uint32_t now = platform::TickCount();
    if (feed_ == Feed::Feeding && firstPoll_ && scenario_.terminateAtFirstPoll) feed_ = Feed::Ended;
    firstPoll_ = false;
    if (feed_ == Feed::Feeding) {
        if (current_ && current_->read) {
            // The host has taken the document; the next one comes after the feed time.
            current_.reset();
            ++nextDoc_;
            readyAt_ = now + PauseBefore(nextDoc_);
        }
        if (!current_) {
            if (nextDoc_ >= docLimit_) {
                feed_ = Feed::Ended;
            } else if (Ticked(now, readyAt_)) {
                const Document& d = scenario_.documents[static_cast<size_t>(nextDoc_)];
                if (d.jam) {
                    feed_ = Feed::Jammed;
                    jamSense_ = d.jamSense;
                } else {
                    LoadDocument(nextDoc_);
                    ++announced_;
                    rec->readyForMs = static_cast<int>(now - readyAt_);
                }
            }
        }
        if (current_) status = commandset::status::kDocumentReady;
    }
    if (feed_ == Feed::Jammed) return Check(jamSense_, kKeyNotReady, 0x3A, rec);
    if (feed_ == Feed::Ended) status = commandset::status::kFeedEnded;
    rec->statusByte3 = status;
    return reply;
}

aspi::Reply Scanner::ReadBuffer(const aspi::Request& r, CommandRecord* rec, uint32_t* sleepMs) {
    const int at = cdb::kReadBufferOffsetByte;
    uint32_t offset =
        (static_cast<uint32_t>(r.cdb[at]) << 16) | (r.cdb[at + 1] << 8) | r.cdb[at + 2];
    if (offset % kBlockSize != 0) return Malformed(kAscInvalidField, rec);
    if (!current_) return Check({}, kKeyIllegal, kAscSequence, rec);
    size_t block = offset / kBlockSize;
    rec->block = static_cast<int>(block);
    *sleepMs += scenario_.latency.blockMs;
    Current& cur = *current_;
    cur.read = true;
    bool rear = block >= cur.clean.frontBlocks;
    if (block == 0) ++cur.frontReads;
    if (rear && block == cur.clean.frontBlocks) ++cur.rearReads;
    int reads = rear ? cur.rearReads : cur.frontReads;
    const DocumentData& src = (cur.firstPass && reads <= 1) ? *cur.firstPass : cur.clean;
    aspi::Reply reply;
    reply.dataIn.assign(kBlockSize, 0);
    size_t start = block * kBlockSize;
    if (start < src.bytes.size())
        std::copy_n(src.bytes.begin() + static_cast<ptrdiff_t>(start),
                    std::min<size_t>(kBlockSize, src.bytes.size() - start), reply.dataIn.begin());
    return reply;
}

Scanner& TheScanner() {
    // Never destroyed: the ASPI layer's thread may still be inside a request
    // while the process exits.
    static Scanner* scanner = new Scanner;
    return *scanner;
}

}  // namespace orvo::sim
