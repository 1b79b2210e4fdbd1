// orvo_sg_tree ROOT: lays the fake SCSI generic tree of the virtual scanner
// of ORVOSCAN_SIM_SCENARIO (or of its default stack) into ROOT, for
// scripts/sg-emulated.sh.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "orvo/sgemu/sg_tree.h"
#include "orvo/sim/scenario.h"

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr, "usage: orvo_sg_tree ROOT\n");
        return argc == 2 ? 0 : 2;
    }
    const char* file = std::getenv("ORVOSCAN_SIM_SCENARIO");
    const orvo::sim::Scenario scenario = file != nullptr && *file != '\0'
                                             ? orvo::sim::LoadScenarioFile(file)
                                             : orvo::sim::DefaultScenario();
    try {
        orvo::sgemu::LayTree(argv[1], scenario);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvo_sg_tree: %s\n", e.what());
        return 1;
    }
    return 0;
}
