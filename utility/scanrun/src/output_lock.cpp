#include "orvo/scanrun/output_lock.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>

#include "orvo/platform/files.h"

namespace orvo::scanrun {

namespace {

// Bytes of a lock file's description that are read.
constexpr std::size_t kLongestDescription = 200;

std::string ProgramName() {
    std::ifstream in("/proc/self/comm");
    std::string name;
    std::getline(in, name);
    return name.empty() ? std::string("a program") : name;
}

std::string UserName() {
    const uid_t uid = geteuid();
    struct passwd entry{};
    struct passwd* found = nullptr;
    char buffer[1024];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return "uid " + std::to_string(uid);
}

// "pid 1234 (orvoscan), user alice, since 10:42:07"
std::string Description() {
    char since[16] = "";
    const std::time_t now = std::time(nullptr);
    struct tm local{};
    if (localtime_r(&now, &local) != nullptr)
        std::strftime(since, sizeof since, "%H:%M:%S", &local);
    return "pid " + std::to_string(getpid()) + " (" + ProgramName() + "), user " + UserName() +
           ", since " + since;
}

// What a holder wrote into its lock file, printable characters only.
std::string DescriptionIn(int fd) {
    char buf[kLongestDescription];
    const ssize_t n = pread(fd, buf, sizeof buf, 0);
    std::string text;
    for (ssize_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(buf[i]);
        if (c == '\n') break;
        text += std::isprint(c) ? static_cast<char>(c) : '?';
    }
    return text.empty() ? std::string("another program") : text;
}

struct flock WholeFile(short type) {
    struct flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

}  // namespace

OutputLock::OutputLock(const std::string& directory) {
    std::string dir = directory.empty() ? std::string(".") : directory;
    if (dir.back() != '/') dir += '/';
    path_ = dir + kOutputLockName;
    // The file may be replaced or removed by its holder meanwhile: a lock
    // counts only on the file the name leads to.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = platform::OpenRegularFile(path_, O_RDWR | O_CREAT | O_NOFOLLOW, 0666);
        if (fd < 0) {
            message_ = "The output " + directory + " cannot be locked for this run (" + path_ +
                       ": " + std::strerror(errno == EINVAL ? EEXIST : errno) + ").";
            return;
        }
        struct flock lock = WholeFile(F_WRLCK);
        if (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
            const int error = errno;
            if (error == EAGAIN || error == EACCES) {
                holder_ = DescriptionIn(fd);
                close(fd);
                state_ = State::Busy;
                message_ = "The output " + directory +
                           " is in use by another scan run: " + holder_ +
                           ". Wait until it ends, or choose another directory.";
                return;
            }
            close(fd);
            message_ = "The output " + directory + " cannot be locked for this run (" + path_ +
                       ": " + std::strerror(error) + ").";
            return;
        }
        struct stat held{}, named{};
        if (fstat(fd, &held) == 0 && lstat(path_.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            const std::string text = Description() + "\n";
            if (ftruncate(fd, 0) == 0) {
                // The description is a courtesy: a full disk does not stop the run.
                const bool written = platform::WriteAll(fd, text.data(), text.size());
                (void)written;
            }
            fd_ = fd;
            state_ = State::Held;
            message_.clear();
            return;
        }
        close(fd);  // removed by the run that held it: take the new one
    }
    message_ = "The output " + directory + " cannot be locked for this run (" + path_ +
               " keeps changing).";
}

OutputLock::~OutputLock() {
    Release();
}

void OutputLock::Release() {
    if (fd_ < 0) return;
    // Removed while still held, so no other run locks a file on its way out.
    unlink(path_.c_str());
    close(fd_);
    fd_ = -1;
    state_ = State::Failed;
}

}  // namespace orvo::scanrun
