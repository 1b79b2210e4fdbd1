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
};

const std::vector<Key>& Keys() {
    static const std::vector<Key> keys = {
        {"undersize", "MinLengthMm", &Limits::minLengthMm, "length along the feed (rows), mm"},
        {"undersize", "MinHeightMm", &Limits::minHeightMm,
         "height across the feed (pixels of a row), mm"},
        {"oversize", "MaxLengthMm", &Limits::maxLengthMm, "length along the feed, mm"},
        {"oversize", "MaxHeightMm", &Limits::maxHeightMm, "height across the feed, mm"},
        {"length-mismatch", "MaxDifferenceMm", &Limits::maxLengthDifferenceMm,
         "front and rear lengths of one cheque, mm"},
        {"skew", "MaxDegrees", &Limits::maxSkewDegrees, "angle of the content either way, degrees"},
        {"too-light", "MinBlackPercent", &Limits::minBlackPercent,
         "bilevel: share of black pixels, %"},
        {"too-light", "MaxBrightness", &Limits::maxBrightness, "gray: mean level, 0-255"},
        {"too-light", "MinContrast", &Limits::minContrast,
         "gray: paper level less ink level (99th less 0.2th percentile), 0-255"},
        {"too-dark", "MaxBlackPercent", &Limits::maxBlackPercent,
         "bilevel: share of black pixels, %"},
        {"too-dark", "MinBrightness", &Limits::minBrightness, "gray: mean level, 0-255"},
        {"blank", "MaxBlackPercent", &Limits::blankBlackPercent,
         "bilevel: a side with less black than this is blank, %"},
        {"blank", "MaxContrast", &Limits::blankContrast,
         "gray: a side with less contrast than this is blank, 0-255"},
        {"streaks", "MinCoverPercent", &Limits::streakCoverPercent,
         "a column dark over this share of the length (and through both ends) is a streak, %"},
        {"streaks", "MaxStreaks", &Limits::maxStreaks, "streaks a side may have"},
        {"spot-noise", "MaxSpecksPerSquareInch", &Limits::maxSpecksPerSquareInch,
         "isolated specks per square inch"},
        {"compressed-size", "BilevelMinBytes", &Limits::minBilevelBytes,
         "Group 3/4 page file, bytes"},
        {"compressed-size", "BilevelMaxBytes", &Limits::maxBilevelBytes,
         "Group 3/4 page file, bytes"},
        {"compressed-size", "GrayMinBytes", &Limits::minGrayBytes,
         "LZW or PackBits page file, bytes"},
        {"compressed-size", "GrayMaxBytes", &Limits::maxGrayBytes,
         "LZW or PackBits page file, bytes"},
    };
    return keys;
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
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(v)) {
        return std::string("\"") + text + "\" is not a number";
    }
    if (v < 0) return std::string("\"") + text + "\" is below 0";
    std::string reason;
    std::visit(
        [&](auto member) {
            using T = std::remove_reference_t<decltype(limits->*member)>;
            if constexpr (std::is_same_v<T, double>) {
                limits->*member = v;
            } else if (v != std::floor(v) || v > 1e15) {
                reason = std::string("\"") + text + "\" is not a whole number";
            } else {
                limits->*member = static_cast<T>(v);
            }
        },
        key.member);
    return reason;
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
    struct stat st {};
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
