#include "orvo/sgemu/sg_tree.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace orvo::sgemu {

namespace {

namespace fs = std::filesystem;

constexpr char kMark[] = "orvo-sg-emulation ";

std::string AddressText(const ScsiAddress& a) {
    return std::to_string(a.host) + ":" + std::to_string(a.channel) + ":" +
           std::to_string(a.target) + ":" + std::to_string(a.lun);
}

}  // namespace

std::optional<unsigned> AdapterOfHost(unsigned host) {
    if (host < 2 || host % 2 != 0) return std::nullopt;
    return (host - 2) / 2;
}

std::string NodeText(const ScsiAddress& address) {
    return kMark + AddressText(address) + "\n";
}

std::optional<ScsiAddress> ParseNodeText(const std::string& text) {
    if (text.compare(0, sizeof kMark - 1, kMark) != 0) return std::nullopt;
    ScsiAddress a;
    int end = 0;
    if (std::sscanf(text.c_str() + sizeof kMark - 1, "%u:%u:%u:%u\n%n", &a.host, &a.channel,
                    &a.target, &a.lun, &end) != 4 ||
        static_cast<std::size_t>(end) != text.size() - (sizeof kMark - 1)) {
        return std::nullopt;
    }
    return a;
}

void LayTree(const std::string& root, const orvo::sim::Scenario& scenario) {
    const fs::path classDir = fs::path(root) / "sys/class/scsi_generic";
    const fs::path devDir = fs::path(root) / "dev";
    std::error_code ec;
    fs::create_directories(classDir, ec);
    fs::create_directories(devDir, ec);
    const int adapters = std::max(scenario.adapterCount, 0);
    for (int adapter = 0; adapter < adapters; ++adapter) {
        ScsiAddress a;
        a.host = HostOfAdapter(static_cast<unsigned>(adapter));
        a.target = adapter == scenario.adapter ? static_cast<unsigned>(scenario.target) : 0;
        const std::string name = "sg" + std::to_string(adapters - 1 - adapter);
        const fs::path entry = classDir / name;
        fs::create_directories(entry, ec);
        fs::create_symlink("../../../devices/platform/host" + std::to_string(a.host) + "/target" +
                               std::to_string(a.host) + ":0:" + std::to_string(a.target) + "/" +
                               AddressText(a),
                           entry / "device", ec);
        if (ec) throw std::runtime_error("cannot lay " + (entry / "device").string());
        std::ofstream node(devDir / name, std::ios::binary | std::ios::trunc);
        node << NodeText(a);
        if (!node.flush()) throw std::runtime_error("cannot write " + (devDir / name).string());
    }
}

}  // namespace orvo::sgemu
