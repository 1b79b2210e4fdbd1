#include "orvo/scanrun/output_survey.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvo::scanrun {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Record numbers of micr.txt, read in blocks: the first seven characters of
// every line, when they are digits.
std::vector<int> ReadRecordNumbers(const std::string& path, std::string* error, bool* unknown) {
    std::vector<int> numbers;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno != ENOENT) {
            *error = path + ": " + std::strerror(errno);
            *unknown = true;
        }
        return numbers;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *unknown = true;  // the pre-start check names what it is
        return numbers;
    }
    char block[65536];
    int column = 0;  // characters of the line seen so far, up to 8
    int value = 0;
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = path + ": " + std::strerror(errno);
            *unknown = true;
            break;
        }
        if (n == 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            const char c = block[i];
            if (c == '\n') {
                column = 0;
                value = 0;
                continue;
            }
            if (column < 7) {
                if (IsDigit(c)) {
                    value = value * 10 + (c - '0');
                    if (++column == 7) numbers.push_back(value);
                } else {
                    column = 8;  // not a record; wait for the next line
                }
            }
        }
    }
    ::close(fd);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

}  // namespace

int PageNumberInName(const std::string& name, const std::string& fileTitle,
                     const std::string& extension, bool* front) {
    const std::string tail = "." + extension;
    if (name.size() < fileTitle.size() + 6 + 1 + tail.size()) return -1;
    if (name.compare(0, fileTitle.size(), fileTitle) != 0) return -1;
    if (name.compare(name.size() - tail.size(), tail.size(), tail) != 0) return -1;
    const std::string middle =
        name.substr(fileTitle.size(), name.size() - fileTitle.size() - tail.size());
    const std::size_t digits = middle.size() - 1;
    const char side = middle.back();
    if (side != 'F' && side != 'R') return -1;
    if (digits != 6 && !(digits == 7 && middle[0] != '0')) return -1;
    int number = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        if (!IsDigit(middle[i])) return -1;
        number = number * 10 + (middle[i] - '0');
    }
    *front = side == 'F';
    return number;
}

OutputSurvey SurveyOutput(const OutputLocation& location) {
    OutputSurvey survey;
    // The pages lie where the prefix path points: its directory part and,
    // after it, the file title the names begin with.
    const std::string& prefix = location.prefixPath;
    const std::size_t slash = prefix.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : prefix.substr(0, slash + 1);
    const std::string title = slash == std::string::npos ? prefix : prefix.substr(slash + 1);

    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* entry = ::readdir(d)) {
            PageFile page;
            page.number = PageNumberInName(entry->d_name, title, location.extension, &page.front);
            if (page.number < 0) continue;
            page.path = (slash == std::string::npos ? std::string() : dir) + entry->d_name;
            survey.pages.push_back(std::move(page));
        }
        ::closedir(d);
    } else if (errno != ENOENT) {
        survey.error = dir + ": " + std::strerror(errno);
    }
    std::sort(survey.pages.begin(), survey.pages.end(), [](const PageFile& a, const PageFile& b) {
        return a.number != b.number ? a.number < b.number : a.front && !b.front;
    });
    survey.recordNumbers =
        ReadRecordNumbers(MicrFilePath(location), &survey.micrError, &survey.micrUnknown);
    std::string qualityError;
    bool qualityUnknown = false;
    const std::string qualityPath = location.directory + "/quality.txt";
    survey.qualityNumbers = ReadRecordNumbers(qualityPath, &qualityError, &qualityUnknown);
    struct stat st{};
    survey.qualityKnown = !qualityUnknown && ::stat(qualityPath.c_str(), &st) == 0;
    survey.extension = location.extension;
    return survey;
}

int OutputSurvey::HighestNumber() const {
    int highest = -1;
    if (!pages.empty()) highest = pages.back().number;
    if (!recordNumbers.empty()) highest = std::max(highest, recordNumbers.back());
    return highest;
}

const PageFile* OutputSurvey::FirstPageFrom(int startNumber, bool twoSided) const {
    for (const PageFile& page : pages) {
        if (page.number >= startNumber && (twoSided || page.front)) return &page;
    }
    return nullptr;
}

std::vector<PageFile> OutputSurvey::FrontsWithoutRecord() const {
    std::vector<PageFile> missing;
    if (micrUnknown) return missing;
    for (const PageFile& page : pages) {
        if (page.front &&
            !std::binary_search(recordNumbers.begin(), recordNumbers.end(), page.number)) {
            missing.push_back(page);
        }
    }
    return missing;
}

std::vector<PageFile> OutputSurvey::FrontsWithoutRear() const {
    std::vector<PageFile> missing;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        // Sorted by number, fronts first: a rear follows its front directly.
        const bool rear =
            i + 1 < pages.size() && pages[i + 1].number == pages[i].number && !pages[i + 1].front;
        if (pages[i].front && !rear) missing.push_back(pages[i]);
    }
    return missing;
}

std::vector<PageFile> OutputSurvey::ChequesWithoutQualityLine(bool twoSided) const {
    std::vector<PageFile> missing;
    if (!qualityKnown || strcasecmp(extension.c_str(), "raw") == 0) return missing;
    std::vector<int> lines = qualityNumbers;
    std::sort(lines.begin(), lines.end());
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (!pages[i].front) continue;
        const bool whole =
            !twoSided ||
            (i + 1 < pages.size() && pages[i + 1].number == pages[i].number && !pages[i + 1].front);
        if (whole && !std::binary_search(lines.begin(), lines.end(), pages[i].number)) {
            missing.push_back(pages[i]);
        }
    }
    return missing;
}

}  // namespace orvo::scanrun
