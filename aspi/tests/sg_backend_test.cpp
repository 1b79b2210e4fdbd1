#include "sg_backend.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "orvo/testing/child.h"
#include "orvo/testing/temp_dir.h"
#include "wnaspi32.h"

namespace orvo::aspi::detail {
namespace {

namespace fs = std::filesystem;

// A sysfs tree with sg devices on hosts 0, 2 and 5, and a device root.
class SgTreeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(root_ + "/sys/class/scsi_generic");
        fs::create_directories(root_ + "/dev");
        AddDevice(0, "0:0:0:0");
        AddDevice(1, "0:0:3:0");
        AddDevice(2, "2:1:4:0");  // target 4 of host 2 on channel 1 ...
        AddDevice(3, "2:0:4:0");  // ... and channel 0: channel 0 wins
        AddDevice(4, "2:0:4:1");
        AddDevice(5, "5:0:7:0");
        AddDevice(6, "5:2:6:0");
        // Entries that are not sg devices, or whose address makes no sense.
        fs::create_directories(root_ + "/sys/class/scsi_generic/sgx");
        fs::create_directories(root_ + "/sys/class/scsi_generic/sg9");
        fs::create_directory_symlink("../../../devices/target9/junk",
                                     root_ + "/sys/class/scsi_generic/sg9/device");
        fs::create_directories(root_ + "/sys/class/scsi_generic/sg10");  // no device link
    }
    void AddDevice(int n, const std::string& address) {
        const std::string dir = root_ + "/sys/class/scsi_generic/sg" + std::to_string(n);
        fs::create_directories(dir);
        fs::create_directory_symlink("../../../devices/pci0000:00/host/target/" + address,
                                     dir + "/device");
    }
    SgTopology Topology() { return SgTopology(ScanSgDevices(root_, root_)); }

    const orvo::testing::TempDir dir_{"orvo-sg"};
    const std::string root_ = dir_.path();
};

TEST_F(SgTreeTest, ScanFindsEveryWellFormedDevice) {
    const auto devices = ScanSgDevices(root_, root_);
    ASSERT_EQ(devices.size(), 7u);
    EXPECT_EQ(devices.front().node, root_ + "/dev/sg0");
    EXPECT_EQ(devices.back().host, 5u);
}

TEST_F(SgTreeTest, AdaptersAreTheDistinctHostsInOrder) {
    const SgTopology topology = Topology();
    EXPECT_EQ(topology.adapterCount(), 3u);
    ASSERT_NE(topology.find(0, 3, 0), nullptr);
    EXPECT_EQ(topology.find(0, 3, 0)->node, root_ + "/dev/sg1");
    ASSERT_NE(topology.find(1, 4, 0), nullptr);
    EXPECT_EQ(topology.find(1, 4, 0)->node, root_ + "/dev/sg3");
    EXPECT_EQ(topology.find(1, 4, 1)->node, root_ + "/dev/sg4");
    EXPECT_EQ(topology.find(2, 7, 0)->node, root_ + "/dev/sg5");
    EXPECT_EQ(topology.find(2, 6, 0)->node, root_ + "/dev/sg6");  // only on channel 2
    EXPECT_EQ(topology.find(1, 0, 0), nullptr);
    EXPECT_EQ(topology.find(2, 7, 1), nullptr);
    EXPECT_EQ(topology.find(3, 0, 0), nullptr);
}

TEST_F(SgTreeTest, SupportInfoCountsAdaptersOrReportsNone) {
    SgBackend backend(Topology());
    EXPECT_EQ(backend.supportInfo(), (static_cast<uint32_t>(SS_COMP) << 8) | 3u);
    SgBackend empty(SgTopology({}));
    EXPECT_EQ(empty.supportInfo(), static_cast<uint32_t>(SS_NO_ADAPTERS) << 8);
    SgBackend missing(SgTopology(ScanSgDevices(root_ + "/nowhere", root_)));
    EXPECT_EQ(missing.supportInfo(), static_cast<uint32_t>(SS_NO_ADAPTERS) << 8);
}

TEST_F(SgTreeTest, RequestWithoutDeviceIsASelectionTimeout) {
    SgBackend backend(Topology());
    Request request;
    request.adapter = 1;
    request.target = 5;  // nothing at target 5 of host 2
    request.cdbLength = 6;
    Reply reply = backend.execute(request);
    EXPECT_TRUE(reply.completes);
    EXPECT_EQ(reply.srbStatus, SS_ERR);
    EXPECT_EQ(reply.haStat, HASTAT_SEL_TO);

    // Listed in sysfs, but the device node is missing.
    request.target = 4;
    reply = backend.execute(request);
    EXPECT_EQ(reply.srbStatus, SS_ERR);
    EXPECT_EQ(reply.haStat, HASTAT_SEL_TO);
}

TEST_F(SgTreeTest, NodeThatIsNoSgDeviceGivesAnError) {
    std::ofstream(root_ + "/dev/sg3") << "not a device";
    SgBackend backend(Topology());
    Request request;
    request.adapter = 1;
    request.target = 4;
    request.cdbLength = 6;
    const Reply reply = backend.execute(request);
    EXPECT_EQ(reply.srbStatus, SS_ERR);
    EXPECT_NE(reply.haStat, HASTAT_OK);
}

// What a second process sees of device (0, 3, 0): 'b' busy and held by
// `holder`, 'h' held, anything else a failure.
char LockInChild(const SgTopology& topology, pid_t holder) {
    const int code = orvo::testing::RunInChild([&] {
        SgBackend other(topology);
        std::string who;
        const DeviceLock lock = other.lockDevice(0, 3, 0, &who);
        if (lock == DeviceLock::Held) return int{'h'};
        const bool named = who.rfind("pid " + std::to_string(holder) + " ", 0) == 0;
        return int{lock == DeviceLock::Busy && named ? 'b' : 'x'};
    });
    return code >= 0 && code < 128 ? static_cast<char>(code) : '?';
}

TEST_F(SgTreeTest, DeviceLockExcludesOtherProcesses) {
    std::ofstream(root_ + "/dev/sg1") << "node";
    SgBackend backend(Topology());
    std::string who;
    EXPECT_EQ(backend.lockDevice(0, 3, 0, &who), DeviceLock::Held);
    EXPECT_EQ(backend.lockDevice(0, 3, 0, &who), DeviceLock::Held);  // held already
    EXPECT_EQ(LockInChild(Topology(), getpid()), 'b');
    backend.unlockDevice(0, 3, 0);
    EXPECT_EQ(LockInChild(Topology(), getpid()), 'h');
    // No device there, or no node for it.
    EXPECT_EQ(backend.lockDevice(1, 5, 0, &who), DeviceLock::NoDevice);
    EXPECT_EQ(backend.lockDevice(0, 0, 0, &who), DeviceLock::NoDevice);
    backend.unlockDevice(1, 5, 0);
}

TEST_F(SgTreeTest, EnvironmentChoosesTheRoots) {
    setenv("ORVOSCAN_SYSFS_ROOT", root_.c_str(), 1);
    setenv("ORVOSCAN_DEV_ROOT", root_.c_str(), 1);
    auto backend = MakeSgBackend();
    unsetenv("ORVOSCAN_SYSFS_ROOT");
    unsetenv("ORVOSCAN_DEV_ROOT");
    EXPECT_EQ(backend->name(), "sg");
    EXPECT_EQ(backend->supportInfo() & 0xFF, 3u);
}

TEST(SgAddressTest, ParsesOnlyFourNumbers) {
    SgDevice device;
    ASSERT_TRUE(ParseScsiAddress("12:0:7:3", &device));
    EXPECT_EQ(device.host, 12u);
    EXPECT_EQ(device.channel, 0u);
    EXPECT_EQ(device.target, 7u);
    EXPECT_EQ(device.lun, 3u);
    for (const char* bad : {"", "1:2:3", "1:2:3:4:5", "a:0:0:0", "1::0:0", "1:0:0:", "-1:0:0:0",
                            "1:0:0:99999999999999999999"}) {
        EXPECT_FALSE(ParseScsiAddress(bad, &device)) << bad;
    }
}

}  // namespace
}  // namespace orvo::aspi::detail
