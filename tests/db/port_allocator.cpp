// Helper of the port allocation tests: logs in to the suite database of the
// calling test (its environment names the data source), waits until the
// given moment so that several copies start together, then allocates ports
// and prints each on its own line.
//
//   port_allocator <count> <start: milliseconds since 1970>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "DBoperations.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: port_allocator <count> <start ms>\n");
        return 2;
    }
    const long count = std::strtol(argv[1], nullptr, 10);
    const std::chrono::system_clock::time_point start{
        std::chrono::milliseconds(std::strtoll(argv[2], nullptr, 10))};

    CDBoperations db("ZOR");
    if (db.connectDatabase("ZPELDB", "peluser", "tolbex4", nullptr) != 0 ||
        db.SqliteHandle() == nullptr) {
        std::printf("error\n");
        return 1;
    }
    std::this_thread::sleep_until(start);
    for (long i = 0; i < count; ++i) {
        int port = 0;
        db.allocateSounderPort(port);
        std::printf("%d\n", port);
    }
    return 0;
}
