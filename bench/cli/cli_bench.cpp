// halden read and halden flash against the simulated controller paced at
// 115,200 baud (10 bits per byte): the wall time of each command against
// the wire time of every byte exchanged plus the pauses the protocol
// requires (read: the engine's 1000 ms after AT and after AT+SHOW; flash:
// the 500 ms before the first handshake byte).
//
// Usage: cli_bench [--runs N] [--size BYTES]
#include "cli/CliRunner.h"
#include "sim/Simulator.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

using namespace pell;

namespace {

constexpr int kBaud = 115200;

struct Figures {
    int status = -1;
    double wallSeconds = 0;
    uint64_t bytes = 0;
};

Figures runOnce(sim::Simulator& device, std::atomic<uint64_t>& bytes, const std::vector<std::string>& args)
{
    device.PowerOff();
    bytes.store(0);
    std::ostringstream out, err;
    cli::CliEnv env;
    env.out = &out;
    env.err = &err;
    std::vector<std::string> a = args;
    a.push_back("--port");
    a.push_back(device.PortPath());
    const auto start = std::chrono::steady_clock::now();
    Figures f;
    f.status = cli::RunCli(a, env);
    f.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.bytes = bytes.load();
    if (f.status != 0)
        std::fprintf(stderr, "%s", err.str().c_str());
    return f;
}

void report(const char* name, const Figures& f, double pauses)
{
    const double wire = static_cast<double>(f.bytes) * 10.0 / kBaud;
    const double floor = wire + pauses;
    std::printf("%-6s status %d  wall %7.3f s  bytes %8llu  wire %7.3f s + pauses %.3f s = %7.3f s  "
                "ratio %.3f\n",
                name, f.status, f.wallSeconds, static_cast<unsigned long long>(f.bytes), wire, pauses, floor,
                f.wallSeconds / floor);
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 3;
    std::size_t size = 256 * 1024;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--size") == 0)
            size = static_cast<std::size_t>(std::atol(argv[i + 1]));
    }
    sim::Options o;
    o.autoPowerUp = true;
    o.baud = kBaud;
    o.loaderWindowMs = 100;
    o.configWindowMs = 3000;
    o.restartDelayMs = 10;
    sim::Simulator device(o);
    std::atomic<uint64_t> bytes{0};
    device.SetObserver([&](sim::Traffic kind, const std::string& b) {
        if (kind != sim::Traffic::Event)
            bytes.fetch_add(b.size());
    });
    if (!device.Start()) {
        std::fprintf(stderr, "cli_bench: no pseudo-terminal\n");
        return 1;
    }
    char dir[] = "/tmp/halden-cli-bench-XXXXXX";
    if (!::mkdtemp(dir))
        return 1;
    const std::string cfg = std::string(dir) + "/unit.cfg";
    const std::string image = std::string(dir) + "/fw.bin";
    {
        std::string bytesOut(size, '\0');
        std::mt19937 random(15);
        for (char& c : bytesOut)
            c = static_cast<char>(random());
        std::ofstream(image, std::ios::binary) << bytesOut;
    }
    std::printf("simulator paced at %d baud; %d runs each; image %zu bytes\n", kBaud, runs, size);
    for (int r = 0; r < runs; ++r) {
        report("read", runOnce(device, bytes, {"read", "-o", cfg}), 2.0);
        report("flash", runOnce(device, bytes, {"flash", image}), 0.5);
    }
    device.Stop();
    std::remove(cfg.c_str());
    std::remove(image.c_str());
    ::rmdir(dir);
    return 0;
}
