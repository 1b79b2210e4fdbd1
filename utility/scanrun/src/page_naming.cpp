#include "orvo/scanrun/page_naming.h"

#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "orvo/core/scan_kinds.h"

namespace orvo::scanrun {

OutputLocation SplitOutputPath(const std::string& path) {
    OutputLocation loc;
    const std::size_t slash = path.rfind('/');
    const std::string fileName = slash == std::string::npos ? path : path.substr(slash + 1);
    loc.directory = slash == std::string::npos ? std::string() : path.substr(0, slash);

    // The prefix path is cut at the last '.' of the whole path, which may lie
    // in the directory part when the file name has none.
    const std::size_t dot = path.rfind('.');
    loc.prefixPath = dot == std::string::npos ? std::string() : path.substr(0, dot);

    const std::size_t nameDot = fileName.rfind('.');
    if (nameDot != std::string::npos) {
        loc.fileTitle = fileName.substr(0, nameDot);
        loc.extension = fileName.substr(nameDot + 1);
    }
    return loc;
}

std::string MicrFilePath(const OutputLocation& location) {
    return location.directory + "/micr.txt";
}

int ImageFormatForExtension(const std::string& extension) {
    if (extension == "tif") return static_cast<int>(ImageFormat::kTiff);
    if (extension == "bmp") return static_cast<int>(ImageFormat::kBitmap);
    if (extension == "raw") return static_cast<int>(ImageFormat::kRaw);
    return -1;
}

int PageFormatForExtension(const std::string& extension) {
    std::string lower = extension;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ImageFormatForExtension(lower);
}

std::string ExtensionForPageFormat(int format, const std::string& like) {
    static const char* const kExtensions[] = {"tif", "bmp", "raw"};
    if (!IsImageFormat(format)) return std::string();
    std::string extension = kExtensions[format];
    const bool capitals = !like.empty() && std::none_of(like.begin(), like.end(), [](char c) {
        return std::islower(static_cast<unsigned char>(c)) != 0;
    });
    if (capitals) {
        for (char& c : extension)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return extension;
}

namespace {

std::string Numbered(const std::string& base, int n, char side) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%06d%c", n, side);
    return base + digits;
}

}  // namespace

PageName NamePage(const OutputLocation& location, bool twoSided, int p) {
    PageName name;
    name.front = !twoSided || p % 2 != 0;
    name.number = StartNumberAfter(twoSided, p);
    const char side = name.front ? 'F' : 'R';
    name.path = Numbered(location.prefixPath, name.number, side) + "." + location.extension;
    name.displayName = Numbered(location.fileTitle, name.number, side);
    return name;
}

std::string PagePathProblem(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::size_t name = path.size() - (slash == std::string::npos ? 0 : slash + 1);
    const long nameMax = ::pathconf(dir.c_str(), _PC_NAME_MAX);
    const std::size_t limit = nameMax > 0 ? static_cast<std::size_t>(nameMax) : NAME_MAX;
    if (name > limit) {
        return "page names such as " + path.substr(slash + 1) + " are " + std::to_string(name) +
               " bytes long; the file system of " + dir + " takes at most " +
               std::to_string(limit) + ": choose a shorter prefix";
    }
    if (path.size() >= PATH_MAX) {
        return "page paths such as " + path + " are " + std::to_string(path.size()) +
               " bytes long; the system takes at most " + std::to_string(PATH_MAX - 1);
    }
    return {};
}

int FirstPage(int startNumber, bool twoSided) {
    return twoSided ? 2 * startNumber - 1 : startNumber;
}

bool PageCarriesMicr(bool twoSided, int p) {
    return !twoSided || p % 2 != 0;
}

}  // namespace orvo::scanrun
