// orvoscand's configuration: one file of "Key=Value" lines (read with
// SimpleIni; '#' or ';' starts a comment line, keys may repeat and stand
// before any section title or under [orvoscand]), read from /etc/orvoscan/orvoscand.conf and then
// from $XDG_CONFIG_HOME/orvoscan/orvoscand.conf (a later file adds origins and addresses and
// replaces single values), then the command line.
//
//     Listen=127.0.0.1:6570        address and port; repeatable
//     AllowOrigin=https://teller.example   repeatable; exact scheme://host[:port]
//     AllowRemote=no               yes lets a non-loopback address be listened on
//     IdleExitSeconds=300          socket-activated: end after this long idle (0: never)
//     RetentionMinutes=30          pages of an ended batch are kept this long
//     ReconnectGraceSeconds=5      a batch without a listener this long is cancelled
//     OutputRoot=                  outputDir must lie below it (default: $HOME)
#pragma once

#include <string>
#include <vector>

namespace orvoscand {

struct ListenAddress {
    std::string host;  // "127.0.0.1", "::1", "localhost"
    int port = 0;
};

struct Config {
    std::vector<ListenAddress> listen;  // empty: the defaults
    std::vector<std::string> allowOrigins;
    bool allowRemote = false;
    int idleExitSeconds = 300;
    int retentionMinutes = 30;
    int reconnectGraceSeconds = 5;
    std::string outputRoot;
    bool demo = false;
};

inline constexpr int kDefaultPort = 6570;
// Files larger than this are not configuration files.
inline constexpr std::size_t kMaxConfigBytes = 64 * 1024;

// "ADDR:PORT", "[v6]:PORT" (port 0: one the system chooses); false when it
// is none.
bool ParseListenAddress(const std::string& text, ListenAddress* out);
// "scheme://host[:port]" of http or https, lower-case scheme and host, no
// path; false otherwise.
bool ParseOrigin(const std::string& text, std::string* normalised);
// Whether a host name or address is a loopback one.
bool IsLoopbackHost(const std::string& host);

// Applies the text of one configuration file to `config`. Every key or value
// that is not understood is an error: false, with "<name>: <reason>" in
// *error.
bool ApplyConfigText(const std::string& text, const std::string& name, Config* config,
                     std::string* error);
// Reads and applies a file; a missing file is no error.
bool ApplyConfigFile(const std::string& path, Config* config, std::string* error);

}  // namespace orvoscand
