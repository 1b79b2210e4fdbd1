#include "orvo/quality/limits.h"

// Plain bytes: the limits file holds ASCII names and numbers.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <variant>

namespace orvo::quality {

namespace {

// One key of the limits file: its section (the defect it limits), its name,
// where its value goes and what it means.
struct Key {
    const char* section;
    const char* name;
    std::variant<double Limits::*, int Limits::*, int64_t Limits::*> member;
    const char* meaning;
    double most;  // the largest value that means anything (the least is 0)
};

// The ranges of the kinds of value.
constexpr double kMostMm = 1000.0;
constexpr double kMostPercent = 100.0;
constexpr double kMostDegrees = 45.0;
constexpr double kMostLevel = 255.0;
constexpr double kMostStreaks = 100000.0;
constexpr double kMostSpecks = 1000000.0;
constexpr double kMostBytes = 1e12;

const std::vector<Key>& Keys() {
    static const std::vector<Key> keys = {
        {"undersize", "MinLengthMm", &Limits::minLengthMm, "length along the feed (rows), mm",
         kMostMm},
        {"undersize", "MinHeightMm", &Limits::minHeightMm,
         "height across the feed (pixels of a row), mm", kMostMm},
        {"oversize", "MaxLengthMm", &Limits::maxLengthMm, "length along the feed, mm", kMostMm},
        {"oversize", "MaxHeightMm", &Limits::maxHeightMm, "height across the feed, mm", kMostMm},
        {"length-mismatch", "MaxDifferenceMm", &Limits::maxLengthDifferenceMm,
         "front and rear lengths (along the feed) of one cheque, mm", kMostMm},
        {"width-mismatch", "MaxDifferenceMm", &Limits::maxWidthDifferenceMm,
         "front and rear widths (across the track) of one cheque, mm", kMostMm},
        {"skew", "MaxDegrees", &Limits::maxSkewDegrees, "angle of the content either way, degrees",
         kMostDegrees},
        {"too-light", "MinBlackPercent", &Limits::minBlackPercent,
         "bilevel: share of black pixels, %", kMostPercent},
        {"too-light", "MaxBrightness", &Limits::maxBrightness, "gray: mean level, 0-255",
         kMostLevel},
        {"too-light", "MinContrast", &Limits::minContrast,
         "gray: paper level less ink level (99th less 0.2th percentile), 0-255", kMostLevel},
        {"too-dark", "MaxBlackPercent", &Limits::maxBlackPercent,
         "bilevel: share of black pixels, %", kMostPercent},
        {"too-dark", "MinBrightness", &Limits::minBrightness, "gray: mean level, 0-255",
         kMostLevel},
        {"blank", "MaxBlackPercent", &Limits::blankBlackPercent,
         "bilevel: a side with less black than this is blank, %", kMostPercent},
        {"blank", "MaxContrast", &Limits::blankContrast,
         "gray: a side with less contrast than this is blank, 0-255", kMostLevel},
        {"streaks", "MinCoverPercent", &Limits::streakCoverPercent,
         "a column darker or lighter than the paper over this share of the length is a streak, %",
         kMostPercent},
        {"streaks", "MaxStreaks", &Limits::maxStreaks, "streaks a side may have", kMostStreaks},
        {"spot-noise", "MaxSpecksPerSquareInch", &Limits::maxSpecksPerSquareInch,
         "isolated specks per square inch", kMostSpecks},
        {"compressed-size", "BilevelMinBytes", &Limits::minBilevelBytes,
         "Group 3/4 page file, bytes", kMostBytes},
        {"compressed-size", "BilevelMaxBytes", &Limits::maxBilevelBytes,
         "Group 3/4 page file, bytes", kMostBytes},
        {"compressed-size", "GrayMinBytes", &Limits::minGrayBytes,
         "LZW or PackBits page file, bytes", kMostBytes},
        {"compressed-size", "GrayMaxBytes", &Limits::maxGrayBytes,
         "LZW or PackBits page file, bytes", kMostBytes},
    };
    return keys;
}

std::string ValueOf(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", v);
    return text;
}

std::string ValueText(const Limits& limits, const Key& key) {
    char text[64];
    std::visit(
        [&](auto member) {
            using T = std::remove_cvref_t<decltype(limits.*member)>;
            if constexpr (std::is_same_v<T, double>) {
                std::snprintf(text, sizeof text, "%g", limits.*member);
            } else {
                std::snprintf(text, sizeof text, "%lld", static_cast<long long>(limits.*member));
            }
        },
        key.member);
    return text;
}

// Sets the key from its text; the reason when it cannot be used.
std::string SetValue(Limits* limits, const Key& key, const char* text) {
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    while (end && (*end == ' ' || *end == '\t')) ++end;
    const std::string quoted = std::string("\"") + text + "\"";
    // Out of the double's range reads as infinity: above any limit's range.
    if (end == text || *end != '\0' || std::isnan(v)) {
        return quoted + " is not a number";
    }
    if (v < 0) return quoted + " is below 0";
    if (v > key.most) return quoted + " is above " + ValueOf(key.most) + ", the most it can be";
    std::string reason;
    std::visit(
        [&](auto member) {
            using T = std::remove_reference_t<decltype(limits->*member)>;
            if constexpr (std::is_same_v<T, double>) {
                limits->*member = v;
            } else if (v != std::floor(v)) {
                reason = quoted + " is not a whole number";
            } else {
                limits->*member = static_cast<T>(v);
            }
        },
        key.member);
    return reason;
}

// The file's lines without those holding a NUL byte (not text: the reader
// would drop everything after it); each one left out is named.
std::string WithoutNulLines(const std::string& path, const std::string& text,
                            std::vector<std::string>* problems) {
    if (text.find('\0') == std::string::npos) return text;
    std::string kept;
    int number = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(at, end - at);
        ++number;
        if (line.find('\0') == std::string::npos) {
            kept += line;
        } else {
            problems->push_back(path + ": line " + std::to_string(number) +
                                " holds a NUL byte (not text); the line is left out");
        }
        at = end;
    }
    return kept;
}
}  // namespace

std::string LimitsFilePath(const std::string& systemDir) {
    return systemDir + "quality.ini";
}

void ReadLimitsFile(const std::string& path, Limits* limits, std::vector<std::string>* problems) {
    // Only a regular file: a FIFO in its place is never waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT) problems->push_back(path + ": " + std::strerror(errno));
        return;
    }
    struct stat st{};
    std::string text;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (1 << 20)) {
        ::close(fd);
        problems->push_back(path + ": not a regular file of a limits file's size");
        return;
    }
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(done);

    text = WithoutNulLines(path, text, problems);
    CSimpleIniA ini;
    if (ini.LoadData(text) < 0) {
        problems->push_back(path + ": cannot be read as an INI file");
        return;
    }
    CSimpleIniA::TNamesDepend sections;
    ini.GetAllSections(sections);
    for (const auto& section : sections) {
        CSimpleIniA::TNamesDepend names;
        ini.GetAllKeys(section.pItem, names);
        for (const auto& name : names) {
            const Key* key = nullptr;
            for (const Key& k : Keys()) {
                if (strcasecmp(k.section, section.pItem) == 0 &&
                    strcasecmp(k.name, name.pItem) == 0) {
                    key = &k;
                }
            }
            const std::string where = path + ": [" + section.pItem + "] " + name.pItem + ": ";
            if (!key) {
                problems->push_back(where + "no such limit");
                continue;
            }
            const std::string reason =
                SetValue(limits, *key, ini.GetValue(section.pItem, name.pItem, ""));
            if (!reason.empty())
                problems->push_back(where + reason + "; the limit stays " +
                                    ValueText(*limits, *key));
        }
    }
}

std::string LimitsFileText(const Limits& limits) {
    std::string text;
    std::string section;
    for (const Key& key : Keys()) {
        if (section != key.section) {
            section = key.section;
            text += (text.empty() ? "[" : "\n[") + section + "]\n";
        }
        text +=
            std::string("; ") + key.meaning + "\n" + key.name + "=" + ValueText(limits, key) + "\n";
    }
    return text;
}

}  // namespace orvo::quality
