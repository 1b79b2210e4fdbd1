// The Linux SCSI generic backend: one ASPI host adapter per SCSI host that has
// sg devices, requests carried out with SG_IO.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "orvo/aspi/backend.h"

namespace orvo::aspi::detail {

struct SgDevice {
    uint64_t host = 0;
    uint64_t channel = 0;
    uint64_t target = 0;
    uint64_t lun = 0;
    std::string node;  // device node, e.g. "/dev/sg3"
};

// Parses "H:C:T:L"; false unless it is exactly four decimal numbers.
bool ParseScsiAddress(const std::string& text, SgDevice* device);

// The sg devices listed under <sysfsRoot>/sys/class/scsi_generic, each with
// its node <devRoot>/dev/sgN.
std::vector<SgDevice> ScanSgDevices(const std::string& sysfsRoot, const std::string& devRoot);

// Adapter numbering: the distinct SCSI hosts in ascending order.
class SgTopology {
  public:
    explicit SgTopology(std::vector<SgDevice> devices);
    // Number of adapters, at most 255.
    unsigned adapterCount() const;
    // The device of (adapter, target, lun), channel 0 preferred, else the
    // lowest channel; null when there is none.
    const SgDevice* find(unsigned adapter, unsigned target, unsigned lun) const;

  private:
    std::vector<SgDevice> devices_;
    std::vector<uint64_t> hosts_;
};

class SgBackend : public Backend {
  public:
    explicit SgBackend(SgTopology topology);
    ~SgBackend() override;
    uint32_t supportInfo() override;
    Reply execute(const Request& request) override;
    std::string name() const override { return "sg"; }
    // The lock is taken on the device node, with a descriptor of its own
    // that requests never close.
    DeviceLock lockDevice(uint8_t adapter, uint8_t target, uint8_t lun,
                          std::string* holder) override;
    void unlockDevice(uint8_t adapter, uint8_t target, uint8_t lun) override;

  private:
    int openNode(const std::string& node, int* error);
    void forgetNode(const std::string& node);

    SgTopology topology_;
    std::map<std::string, int> open_;   // device node -> descriptor (dispatcher thread)
    std::map<std::string, int> locks_;  // device node -> locked descriptor (caller threads)
};

// The sg backend over the devices found with ORVOSCAN_SYSFS_ROOT and
// ORVOSCAN_DEV_ROOT (both default to the real root).
std::unique_ptr<Backend> MakeSgBackend();

}  // namespace orvo::aspi::detail
