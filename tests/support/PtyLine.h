#pragma once
// One end of a pseudo-terminal as a test plays it: writes everything, reads
// with deadlines. The far end of a PtyPair, or the tool's end of a
// simulator's line opened by its path.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace pell::test {

class PtyLine {
public:
    PtyLine() = default;
    // Takes over an open descriptor.
    explicit PtyLine(int fd) : fd_(fd) {}
    // Opens `path` raw and non-blocking; ok() tells whether it opened.
    explicit PtyLine(const std::string& path);
    ~PtyLine();
    PtyLine(PtyLine&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    PtyLine& operator=(PtyLine&& other) noexcept;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void close();

    // Writes all bytes; throws when the line fails or the far end takes
    // nothing for far longer than a busy machine needs.
    void send(const std::string& bytes);

    // What the line holds, waiting at most `wait` for the first byte.
    std::string receive(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    // Reads until `done(all received)` holds, the deadline passes or the far
    // end hangs up.
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
    // Hands every read() result to `take` until it returns true, the
    // deadline passes or the far end hangs up.
    void readPiecesUntil(const std::function<bool(const char*, std::size_t)>& take,
                         std::chrono::milliseconds deadline);

    int fd_ = -1;
};

} // namespace pell::test
