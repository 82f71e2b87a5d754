#pragma once
// The configuration mode as it meets the line: bytes gathered into command
// lines, each one logged, answered by the controller model and written out
// with the faults of other controllers (echo, preamble, ERROR and OK at
// once, late answers, a damaged parameter report). AT+RESET restarts the
// device once its OK is out.
#include "sim/ControllerModel.h"
#include "sim/DeviceParts.h"
#include "sim/SimLine.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pell::sim {

class ConfigDialogue {
public:
    ConfigDialogue(DeviceShared& shared, SimLine& line, DeviceHost& host, const Options& options);

    // A byte in configuration mode.
    void Byte(uint8_t b);
    // The device powers up: no line half-typed.
    void Reset();
    // Configuration mode starts: what came before is no command.
    void ClearLine() { lineBuf_.clear(); }

    // The controller model, for callers at any time: `use` runs under the
    // device's lock.
    template <typename Use>
    auto WithModel(Use&& use) const
    {
        std::lock_guard<std::mutex> lock(shared_.m);
        return use(static_cast<const ControllerModel&>(model_));
    }
    template <typename Use>
    auto WithModel(Use&& use)
    {
        std::lock_guard<std::mutex> lock(shared_.m);
        return use(model_);
    }

    std::vector<std::string> Commands() const;
    std::size_t CommandCount() const;
    void ClearCommands();

    // The report as the faults of now would send it.
    std::string ReportWithFaults() const;

private:
    void handleLine(const std::string& l, bool tooLong);

    DeviceShared& shared_;
    SimLine& line_;
    DeviceHost& host_;

    // Under shared_.m.
    ControllerModel model_;
    std::vector<std::string> commands_;

    // The device thread's.
    std::string lineBuf_;
    bool lineTooLong_ = false;
    int sRun_ = 0;
};

// Card records spread over the 90 days up to the given day, the newest first.
std::vector<CardRecord> SampleCardRecords(int year, int month, int day, int count);

} // namespace pell::sim
