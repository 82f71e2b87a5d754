#pragma once
// An in-process line: the port's device in memory, the controller a script
// in the test. Each command line the tool writes is answered on the writing
// thread, piece by piece, straight into the receiver (the configuration
// page's stand-in): no pseudo-terminal, no receive dispatch thread, and
// every piece is taken before the next goes. Without a receiver the pieces
// wait for the port's read.
#include "serial/CSerial.h"
#include "serial/LineOwner.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pell::test {

class FakeLine {
public:
    // The pieces the controller answers a command line (with its CR LF) with.
    using Script = std::function<std::vector<std::string>(const std::string& line)>;

    FakeLine();
    ~FakeLine();
    FakeLine(const FakeLine&) = delete;
    FakeLine& operator=(const FakeLine&) = delete;

    // The tool's port on this line, opened.
    CSerial& Port() { return port_; }
    // Where the controller's pieces go from now on; nullptr: to the port's read.
    void DeliverTo(IConfigReceiver* receiver);

    void Start(Script script);
    // The controller stops answering.
    void Stop();
    // The command lines received, each with its CR LF.
    std::vector<std::string> Lines() const;
    // Every byte received.
    std::string Raw() const;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    CSerial port_;
};

} // namespace pell::test
