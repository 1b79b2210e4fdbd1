// Helpers of the end-to-end tests: private system directories, settings
// files, the C client, and the virtual scanner in this process.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "orvo/sim/scanner.h"
#include "orvo/testing/files.h"

namespace e2e {

using Section = std::pair<std::string, std::vector<std::pair<std::string, std::string>>>;

// INI text from sections of key/value pairs, in order.
std::string Ini(const std::vector<Section>& sections);

// A bilevel profile: Side, width, lines, mode and compression as given,
// MICR on in "Misc".
std::string ChequeIni(const std::string& profile, int side, int scanMode, int compressMode,
                      int scanWidth = 1728, int scanLines = 800, int resolution = 0);

// A new directory "/tmp/<prefix>-XXXXXX/" (always in /tmp: tests point
// TMPDIR at such directories, and operators must reach them), removed when
// the program ends unless ORVO_KEEP_TEST_FILES is set.
std::string MakeTempDir(const std::string& prefix);

// What a system directory holds.
struct SystemDirOptions {
    bool library = true;  // libK4TR.so (a link to the build's)
    std::vector<std::string> tables = {"huffmanb.dat", "huffmanw.dat", "huffmang.dat"};
    std::map<std::string, std::size_t> tableSizes;  // cut (or extend) a table file
};
std::string LaySystemDir(const std::string& iniText, const SystemDirOptions& options = {});

// The C client in a process of its own.
struct ClientRun {
    int exitCode = -1;
    std::map<std::string, std::string> values;  // its key=value lines
};
ClientRun RunClient(const std::string& mode, const std::map<std::string, std::string>& env);
// The same in two steps, so that several clients can run at once.
struct StartedClient {
    int pid = -1;
    std::string out;  // where its standard output goes
};
StartedClient StartClient(const std::string& mode, const std::map<std::string, std::string>& env);
ClientRun FinishClient(const StartedClient& client);

// The ASPI backend the tests run over: the virtual scanner's own ("sim"), or,
// with ORVO_E2E_ASPI=sg (a test program's second run, with the SG emulation
// preloaded), the sg backend through SG_IO over a fake SCSI generic tree.
bool OverSg();
// The variables that lead a driver to the virtual scanner of `scenario` over
// that backend: ORVOSCAN_ASPI, and for sg the roots of a tree laid for it.
std::map<std::string, std::string> AspiEnvironment(const orvo::sim::Scenario& scenario = {});
// Switches this process's ASPI layer to the backend "sim" or "sg" (over the
// tree of UseVirtualScanner); the scanner found by the driver stays.
void SwitchAspi(const std::string& backend);
// What the device received, request by request: the CDB bytes, the data
// length and, for data, its direction; and how it answered. Polls repeated
// while no document is ready count once.
std::vector<std::string> Requests(const std::vector<orvo::sim::CommandRecord>& log);
// Whether the virtual scanner has been asked for a block of the `document`-th
// document it announced (1 = the first): the driver reads that document.
bool ReadingDocument(int document);

// Points this process's driver at a private system directory with `iniText`
// and at the virtual scanner; call before the first driver call.
std::string UseVirtualScanner(const std::string& iniText, double timeScale = 1.0);
// Rewrites the settings file of that system directory.
void WriteSettings(const std::string& iniText);
const std::string& SystemDir();

// A scenario without delays: `documents` cheques of the default stack.
using orvo::sim::FastScenario;

// Where the driver keeps this process's page files: the batch directory of
// this process in the private directory under $TMPDIR.
std::string PageDir();

using orvo::testing::Exists;
using orvo::testing::ReadBytes;
using orvo::testing::ReadText;
using orvo::testing::WriteText;

}  // namespace e2e
