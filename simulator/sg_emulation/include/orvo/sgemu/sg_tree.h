// A fake SCSI generic tree for the virtual scanner, as the kernel would show
// it: <root>/sys/class/scsi_generic/sgN/device links naming each device's
// SCSI address, and device nodes <root>/dev/sgN. The nodes are regular files
// that name their device; preloaded, the SG emulation (sg_emulation.cpp)
// answers SG_IO on them with the virtual scanner. The sg backend finds the
// tree through ORVOSCAN_SYSFS_ROOT and ORVOSCAN_DEV_ROOT.
#pragma once

#include <optional>
#include <string>

#include "orvo/sim/scenario.h"

namespace orvo::sgemu {

// A device's address as the kernel knows it.
struct ScsiAddress {
    unsigned host = 0, channel = 0, target = 0, lun = 0;
};

// The SCSI host that carries ASPI adapter `adapter`: hosts 2, 4, 6, ..., so
// that the adapters are numbered over hosts with gaps, as on a machine whose
// other hosts have no SCSI generic devices.
constexpr unsigned HostOfAdapter(unsigned adapter) {
    return 2 + 2 * adapter;
}
// The adapter a host carries; none for a host of no adapter.
std::optional<unsigned> AdapterOfHost(unsigned host);

// What a node file holds: "orvo-sg-emulation H:C:T:L\n".
std::string NodeText(const ScsiAddress& address);
// The address in a node file's text; none for any other file.
std::optional<ScsiAddress> ParseNodeText(const std::string& text);

// Lays the tree for `scenario` into `root` (made if need be): one device on
// each of its adapters, the scanner at its adapter and target, target 0 on
// the others (the device model answers them with a selection time-out, like
// an absent scanner). The nodes are numbered against the adapters' order,
// sg0 on the last adapter. Throws std::runtime_error when it cannot.
void LayTree(const std::string& root, const orvo::sim::Scenario& scenario);

}  // namespace orvo::sgemu
