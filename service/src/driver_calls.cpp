// The driver's exports for one Windows program at a time.
#include "driver_calls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>
#include <vector>

#include "orvoscan.h"
#include "wire_parse.h"

namespace orvoscand {

namespace {

using nlohmann::json;

// The largest page file read back: a widened 8-bit gray page of 2592 x 4000
// pixels with its headers fits well below it.
constexpr off_t kMaxPageFile = 48 * 1024 * 1024;
constexpr std::size_t kMaxText = 4096;
constexpr std::size_t kMicrArea = 50;

std::string Base64(const unsigned char* data, std::size_t len) {
    std::string text(4 * ((len + 2) / 3) + 1, '\0');
    text.resize(wire_base64_encode(data, len, text.data()));
    return text;
}

DriverReply Answer(const json& body, int status = 200) {
    return {status, body.dump(-1, ' ', false, json::error_handler_t::replace)};
}

DriverReply Refuse(int status, const std::string& error) {
    return Answer(json{{"error", error}}, status);
}

// What the accessors of the MICR text and of the in-memory page report.
void AddState(json& out) {
    const char* micr = OrvoScan_MicrDataBufPtr();
    out["micrArea"] =
        micr ? json(Base64(reinterpret_cast<const unsigned char*>(micr), kMicrArea)) : json();
    out["micrSize"] = OrvoScan_MicrDataSize();
    out["imageSize"] = OrvoScan_ImageSize();
    out["imageWidth"] = OrvoScan_ImageWidth();
    out["imageHeight"] = OrvoScan_ImageHeitgt();
    out["pitchSrc"] = OrvoScan_ImagePitchSrc();
    out["pitchDst"] = OrvoScan_ImagePitchDst();
    out["bitsPerPixel"] = OrvoScan_ImageBitPerPixel();
}

// The bytes of the page file the driver wrote (a regular file of bounded
// size, not followed through a link); nullopt when there is none.
std::optional<std::vector<unsigned char>> ReadPage(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st;
    std::memset(&st, 0, sizeof st);
    std::optional<std::vector<unsigned char>> bytes;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxPageFile) {
        std::vector<unsigned char> data(static_cast<std::size_t>(st.st_size));
        std::size_t have = 0;
        while (have < data.size()) {
            const ssize_t got = read(fd, data.data() + have, data.size() - have);
            if (got <= 0) break;
            have += static_cast<std::size_t>(got);
        }
        if (have == data.size()) bytes = std::move(data);
    }
    close(fd);
    return bytes;
}

// A text argument of the body: {"profile": "..."}.
std::optional<std::string> TextArgument(const json& body, const char* key) {
    if (!body.contains(key) || !body[key].is_string()) return std::nullopt;
    std::string text = body[key].get<std::string>();
    if (text.size() > kMaxText || text.find('\0') != std::string::npos) return std::nullopt;
    return text;
}

bool ValidSession(const std::string& session) {
    if (session.empty() || session.size() > 64) return false;
    for (const char c : session) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                        (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

}  // namespace

DriverCalls::DriverCalls(DriverLock& driverLock, std::string scratchDir,
                         std::function<int()> ensureStarted)
    : driverLock_(driverLock),
      scratchDir_(std::move(scratchDir)),
      ensureStarted_(std::move(ensureStarted)) {
    if (!scratchDir_.empty() && scratchDir_.back() != '/') scratchDir_ += '/';
    thread_ = std::thread([this] { Work(); });
}

DriverCalls::~DriverCalls() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
    // The server's connections have ended: no export runs any more.
    std::lock_guard<std::mutex> lock(mutex_);
    if (!holder_.empty()) Release();
}

void DriverCalls::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        changed_.wait_for(lock, std::chrono::seconds(1),
                          [this] { return stop_ || dialog_ != nullptr; });
        if (dialog_ != nullptr) {
            lock.unlock();
            (*dialog_)();
            lock.lock();
            dialog_ = nullptr;
            changed_.notify_all();
        } else if (!stop_ && !holder_.empty() && !busy_ && Idle()) {
            // A program that has gone quiet gives the driver up.
            Release();
        }
    }
}

void DriverCalls::OnOwnThread(const std::function<void()>& dialog) {
    std::unique_lock<std::mutex> lock(mutex_);
    dialog_ = &dialog;
    changed_.notify_all();
    changed_.wait(lock, [this, &dialog] { return dialog_ != &dialog; });
}

bool DriverCalls::Idle() const {
    return Clock::now() - lastUse_ > (inBatch_ ? kIdleInBatch : kIdleOutsideBatch);
}

bool DriverCalls::Admit(const std::string& session) {
    if (holder_ == session) return true;
    if (!holder_.empty()) {
        if (!Idle()) return false;
        Release();
    }
    // The service's own batches hold the same lock for their whole run.
    if (!owned_ && !driverLock_.try_lock()) return false;
    owned_ = true;
    holder_ = session;
    return true;
}

void DriverCalls::Release() {
    if (inBatch_) OrvoScan_EndBatch();
    inBatch_ = false;
    holder_.clear();
    if (owned_) driverLock_.unlock();
    owned_ = false;
}

DriverReply DriverCalls::Call(const std::string& call, const std::string& session,
                              const std::string& bodyText) {
    if (!ValidSession(session))
        return Refuse(400, "a driver call needs the header Orvo-Session (1-64 letters or digits)");
    if (call == "end-batch") {
        // The batch's end may come from a second thread of the program while
        // its first waits for a page: the driver allows exactly that call
        // from another thread.
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (holder_ != session) return Answer(json{{"result", 0}});
            lastUse_ = Clock::now();
        }
        const int result = OrvoScan_EndBatch();
        std::lock_guard<std::mutex> lock(mutex_);
        inBatch_ = false;
        return Answer(json{{"result", result}});
    }
    const json body = bodyText.empty() ? json::object() : json::parse(bodyText, nullptr, false);
    if (body.is_discarded() || !body.is_object())
        return Refuse(400, "the request body is no JSON object");
    {
        std::unique_lock<std::mutex> lock(mutex_);
        // A call of the holding program made while another of its calls runs
        // (from a second thread of it) waits for that one, as does every
        // call while a program gives the driver up; another program's call
        // is refused at once.
        changed_.wait(lock,
                      [&] { return stop_ || !busy_ || (!holder_.empty() && holder_ != session); });
        if (stop_) return Refuse(503, "the service is stopping");
        if (busy_ || !Admit(session))
            return Refuse(409, holder_.empty() ? "the scanner is in use by a batch of the service"
                                               : "the driver is in use by another program");
        busy_ = true;
    }
    // Whatever becomes of the call, the next one may run.
    struct Done {
        DriverCalls& calls;
        ~Done() {
            {
                std::lock_guard<std::mutex> lock(calls.mutex_);
                calls.busy_ = false;
                calls.lastUse_ = Clock::now();
            }
            calls.changed_.notify_all();
        }
    } done{*this};
    if (call != "init" && ensureStarted_) ensureStarted_();
    return Run(call, body);
}

DriverReply DriverCalls::Run(const std::string& call, const json& body) {
    json out = json::object();
    if (call == "init") {
        out["result"] = OrvoScan_Init();
        AddState(out);
    } else if (call == "end") {
        // The service keeps its driver started for its other callers; the
        // program gives it up (a batch it left running is ended).
        out["result"] = 0;
        std::lock_guard<std::mutex> lock(mutex_);
        Release();
    } else if (call == "version") {
        const char* version = OrvoScan_Version();
        out["version"] = version ? version : "";
    } else if (call == "image-format") {
        if (!body.contains("format") || !body["format"].is_number_integer())
            return Refuse(400, "image-format needs {\"format\": number}");
        out["result"] = OrvoScan_ImageFormat(body["format"].get<int>());
    } else if (call == "device-error") {
        out["deviceError"] = OrvoScan_GetDeviceError();
    } else if (call == "setup") {
        const auto profile = TextArgument(body, "profile");
        if (!profile) return Refuse(400, "setup needs {\"profile\": text}");
        // The dialog opens on the service's display; the program's window
        // handle means nothing here.
        int result = 0;
        OnOwnThread([&result, &profile] { result = OrvoScan_Setup(nullptr, profile->c_str()); });
        out["result"] = result;
    } else if (call == "setup-qa") {
        int result = 0;
        OnOwnThread([&result] { result = OrvoScan_Setup_Qa(nullptr); });
        out["result"] = result;
    } else if (call == "restore-settings-qa") {
        std::array<unsigned char, 12> qa{};
        out["result"] = OrvoScan_RestoreSettingsQa(qa.data());
        out["qa"] = Base64(qa.data(), qa.size());
    } else if (call == "save-settings-qa") {
        const auto text = TextArgument(body, "qa");
        std::array<unsigned char, 10> qa{};
        if (!text || wire_base64(text->data(), text->size(), qa.data(), qa.size()) != 10)
            return Refuse(400, "save-settings-qa needs {\"qa\": the 10 bytes in base64}");
        out["result"] = OrvoScan_SaveSettingsQa(qa.data());
    } else if (call == "start-batch") {
        const auto profile = TextArgument(body, "profile");
        if (!profile) return Refuse(400, "start-batch needs {\"profile\": text}");
        const int result = OrvoScan_StartBatch(profile->c_str());
        out["result"] = result;
        std::lock_guard<std::mutex> lock(mutex_);
        if (result == 0) inBatch_ = true;
    } else if (call == "is-page-loaded") {
        out["result"] = OrvoScan_IsPageLoaded();
    } else if (call == "get-one-image") {
        // The driver writes the page here; K4TR.dll writes the same bytes
        // under the program's own (Windows) name.
        const std::string path = scratchDir_ + "k4tr-page";
        unlink(path.c_str());
        int rows = 0;
        const int result = OrvoScan_GetOneImage(path.c_str(), &rows);
        const auto bytes = ReadPage(path);
        unlink(path.c_str());
        out["result"] = result;
        out["rows"] = rows;
        out["file"] = bytes ? json(Base64(bytes->data(), bytes->size())) : json();
        AddState(out);
    } else if (call == "get-one-image-buf-ptr") {
        int rows = 0;
        const int result = OrvoScan_GetOneImageBufPtr("", &rows);
        const unsigned char* image = OrvoScan_ImageBufPtr();
        const int size = OrvoScan_ImageSize();
        out["result"] = result;
        out["rows"] = rows;
        out["image"] =
            image && size >= 0 ? json(Base64(image, static_cast<std::size_t>(size))) : json();
        AddState(out);
        // K4TR.dll holds its own copy; the driver's goes at once.
        if (image) OrvoScan_ClearOneImageBuf();
    } else {
        return Refuse(404, "no driver call " + call);
    }
    return Answer(out);
}

}  // namespace orvoscand
