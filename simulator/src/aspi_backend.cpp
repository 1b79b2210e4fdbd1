#include "orvo/sim/aspi_backend.h"

#include <cstdlib>

#include "orvo/sim/scanner.h"

namespace orvo::sim {
namespace {

class SimBackend : public aspi::Backend {
  public:
    uint32_t supportInfo() override { return TheScanner().SupportInfo(); }
    aspi::Reply execute(const aspi::Request& request) override {
        return TheScanner().Execute(request);
    }
    std::string name() const override { return "virtual scanner"; }
};

}  // namespace

std::unique_ptr<aspi::Backend> MakeAspiBackend() {
    const char* path = std::getenv("ORVOSCAN_SIM_SCENARIO");
    if (path && *path) TheScanner().SetScenario(LoadScenarioFile(path));
    const char* record = std::getenv("ORVOSCAN_SIM_RECORD_DIR");
    if (record && *record) {
        Scenario s = TheScanner().scenario();
        s.recordDir = record;
        TheScanner().SetScenario(std::move(s));
    }
    return std::make_unique<SimBackend>();
}

}  // namespace orvo::sim
