#pragma once
// The tool's end of a simulator's line, with plain POSIX calls: opens the
// slave path raw and reads with deadlines.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace pell::test {

class SimLine {
public:
    explicit SimLine(const std::string& path);
    ~SimLine();
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    bool ok() const { return fd_ >= 0; }
    void send(const std::string& bytes);
    // Reads until `done(all received)` holds or the deadline passes.
    std::string readUntil(const std::function<bool(const std::string&)>& done,
                          std::chrono::milliseconds deadline);
    std::string readUntilContains(const std::string& needle,
                                  std::chrono::milliseconds deadline = std::chrono::seconds(30));
    std::string readExactly(std::size_t count,
                            std::chrono::milliseconds deadline = std::chrono::seconds(30));
    // Everything that arrives within the period (to show that nothing does).
    std::string readFor(std::chrono::milliseconds period);
    // Each read() result on its own, with its arrival time, until `needle`
    // has arrived or the deadline passed.
    struct Piece {
        std::string bytes;
        std::chrono::steady_clock::time_point at;
    };
    std::vector<Piece> readPieces(const std::string& needle, std::chrono::milliseconds deadline);
    // True when the far end hangs up before the deadline.
    bool waitHangUp(std::chrono::milliseconds deadline);
    void discardInput();

private:
    int fd_ = -1;
};

} // namespace pell::test
