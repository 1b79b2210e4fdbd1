#include "config.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

namespace orvoscand {

namespace {

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool ParsePort(const std::string& text, int* port, bool anyPort = false) {
    if (text.empty() || text.size() > 5) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < (anyPort ? 0 : 1) || v > 65535) return false;
    *port = v;
    return true;
}

bool ParseCount(const std::string& text, int max, int* out) {
    if (text.empty() || text.size() > 9) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v > max) return false;
    *out = v;
    return true;
}

bool ParseYesNo(const std::string& text, bool* out) {
    const std::string t = Lower(text);
    if (t == "yes" || t == "true" || t == "1" || t == "on") {
        *out = true;
        return true;
    }
    if (t == "no" || t == "false" || t == "0" || t == "off") {
        *out = false;
        return true;
    }
    return false;
}

// A host name of letters, digits, '-' and '.', or an address.
bool ValidHostName(const std::string& host) {
    if (host.empty() || host.size() > 253) return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
    });
}

}  // namespace

bool IsLoopbackHost(const std::string& host) {
    if (Lower(host) == "localhost") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

bool ParseListenAddress(const std::string& text, ListenAddress* out) {
    std::string host;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
        in6_addr v6{};
        if (inet_pton(AF_INET6, host.c_str(), &v6) != 1) return false;
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string::npos) return false;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        in_addr v4{};
        if (Lower(host) != "localhost" && inet_pton(AF_INET, host.c_str(), &v4) != 1) return false;
    }
    ListenAddress address;
    address.host = host;
    if (!ParsePort(port, &address.port, true)) return false;
    *out = address;
    return true;
}

bool ParseOrigin(const std::string& text, std::string* normalised) {
    const std::string t = Lower(text);
    std::string scheme;
    if (t.rfind("http://", 0) == 0) {
        scheme = "http://";
    } else if (t.rfind("https://", 0) == 0) {
        scheme = "https://";
    } else {
        return false;
    }
    std::string rest = t.substr(scheme.size());
    std::string host = rest;
    std::string port;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos) return false;
        host = rest.substr(0, close + 1);
        const std::string after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') return false;
            port = after.substr(1);
        }
        in6_addr v6{};
        if (inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &v6) != 1) return false;
    } else {
        const auto colon = rest.find(':');
        if (colon != std::string::npos) {
            host = rest.substr(0, colon);
            port = rest.substr(colon + 1);
        }
        if (!ValidHostName(host)) return false;
    }
    int p = 0;
    if (!port.empty() && !ParsePort(port, &p)) return false;
    *normalised = scheme + host + (port.empty() ? "" : ":" + std::to_string(p));
    return true;
}

bool ApplyConfigText(const std::string& text, const std::string& name, Config* config,
                     std::string* error) {
    auto fail = [&](const std::string& why) {
        *error = name + ": " + why;
        return false;
    };
    if (text.find('\0') != std::string::npos) return fail("holds a zero byte");
    // Keys may repeat (AllowOrigin=, Listen=); they stand before any section
    // title or under [orvoscand].
    CSimpleIniA ini(false, true, false);
    if (ini.LoadData(text) < 0) return fail("cannot be read as Key=Value lines");
    CSimpleIniA::TNamesDepend sections;
    ini.GetAllSections(sections);
    sections.sort(CSimpleIniA::Entry::LoadOrder());
    for (const auto& section : sections) {
        const std::string title = section.pItem;
        if (!title.empty() && Lower(title) != "orvoscand")
            return fail("unknown section [" + title + "]");
        CSimpleIniA::TNamesDepend keys;
        ini.GetAllKeys(section.pItem, keys);
        keys.sort(CSimpleIniA::Entry::LoadOrder());
        std::string done;  // keys already taken (GetAllKeys lists each once per value)
        for (const auto& k : keys) {
            const std::string key = Lower(k.pItem);
            if (done.find("|" + key + "|") != std::string::npos) continue;
            done += "|" + key + "|";
            CSimpleIniA::TNamesDepend values;
            ini.GetAllValues(section.pItem, k.pItem, values);
            values.sort(CSimpleIniA::Entry::LoadOrder());
            for (const auto& v : values) {
                const std::string value = Trim(v.pItem);
                if (key == "listen") {
                    ListenAddress address;
                    if (!ParseListenAddress(value, &address))
                        return fail("Listen=" + value + " is no ADDRESS:PORT");
                    config->listen.push_back(address);
                } else if (key == "alloworigin") {
                    if (value.empty()) continue;
                    std::string origin;
                    if (!ParseOrigin(value, &origin))
                        return fail("AllowOrigin=" + value +
                                    " is no origin like https://host[:port]");
                    if (std::find(config->allowOrigins.begin(), config->allowOrigins.end(),
                                  origin) == config->allowOrigins.end())
                        config->allowOrigins.push_back(origin);
                } else if (key == "allowremote") {
                    if (!ParseYesNo(value, &config->allowRemote))
                        return fail("AllowRemote=" + value + " is neither yes nor no");
                } else if (key == "idleexitseconds") {
                    if (!ParseCount(value, 86400 * 365, &config->idleExitSeconds))
                        return fail("IdleExitSeconds=" + value + " is no number of seconds");
                } else if (key == "retentionminutes") {
                    if (!ParseCount(value, 60 * 24 * 365, &config->retentionMinutes))
                        return fail("RetentionMinutes=" + value + " is no number of minutes");
                } else if (key == "reconnectgraceseconds") {
                    if (!ParseCount(value, 3600, &config->reconnectGraceSeconds))
                        return fail("ReconnectGraceSeconds=" + value + " is no number of seconds");
                } else if (key == "outputroot") {
                    if (!value.empty() && value.front() != '/')
                        return fail("OutputRoot=" + value + " is no absolute path");
                    config->outputRoot = value;
                } else {
                    return fail("unknown key \"" + std::string(k.pItem) + "\"");
                }
            }
        }
    }
    return true;
}

bool ApplyConfigFile(const std::string& path, Config* config, std::string* error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return true;
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        *error = path + ": not a regular file";
        return false;
    }
    if (static_cast<std::size_t>(st.st_size) > kMaxConfigBytes) {
        close(fd);
        *error = path + ": larger than " + std::to_string(kMaxConfigBytes) + " bytes";
        return false;
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    text.resize(got);
    return ApplyConfigText(text, path, config, error);
}

}  // namespace orvoscand
