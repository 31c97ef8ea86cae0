// A process that traces the way ZOR does, for the tests that end it: it
// configures log4cplus from the given file, makes a trace log with the echo
// on, writes numbered lines and ends as asked.
//
//   trace_writer CONFIG LINES exit     writes LINES lines, returns from main
//   trace_writer CONFIG LINES _exit    writes LINES lines, FlushAll, _exit(0)
//   trace_writer CONFIG LINES sigterm  writes on until SIGTERM (or SIGINT)
//                                      turns into an orderly stop
//   trace_writer CONFIG LINES hold     writes LINES lines and waits to be
//                                      killed, flushing nothing itself
//
// Standard output says "ready" once LINES lines are written, and in the
// sigterm mode how many were written in the end ("wrote N").
#include <LogTrace.h>
#include <StopSignals.h>
#include <TraceFileAppender.h>
#include <log4cplus/configurator.h>
#include <log4cplus/initializer.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

// A line like a job line of a machine, numbered.
void WriteLine(LogTrace& trace, long number) {
    trace.Append("*F: %-12.12s                      Job: line %08ld", "TraceWriter", number);
}

void Say(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void WaitForStop(int fd) {
    pollfd watch{fd, POLLIN, 0};
    while (::poll(&watch, 1, -1) < 0) {
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: trace_writer CONFIG LINES exit|_exit|sigterm|hold\n");
        return 2;
    }
    const long lines = std::atol(argv[2]);
    const char* mode = argv[3];
    const int stopFd = platform::StopSignalDescriptor();

    log4cplus::Initializer logging;
    RegisterTraceFileAppender();
    log4cplus::PropertyConfigurator::doConfigure(LOG4CPLUS_C_STR_TO_TSTRING(argv[1]));
    {
        LogTrace trace("", 0);
        trace.SetConsole(true);
        if (std::strcmp(mode, "sigterm") == 0) {
            // A machine's worker writes on while the main thread waits for the
            // stop request, as ZOR's event loop does.
            std::atomic<bool> stop{false};
            std::atomic<long> written{0};
            // Past the first LINES lines, one a millisecond: still writing when
            // the signal comes, without rolling the files away.
            std::thread writer([&] {
                for (long i = 0; !stop; ++i) {
                    WriteLine(trace, i);
                    written = i + 1;
                    if (i >= lines) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
            while (written < lines) std::this_thread::yield();
            Say("ready\n");
            WaitForStop(stopFd);
            stop = true;
            writer.join();
            std::printf("wrote %ld\n", written.load());
            std::fflush(stdout);
            return 0;
        }
        for (long i = 0; i < lines; ++i) WriteLine(trace, i);
        Say("ready\n");
        if (std::strcmp(mode, "_exit") == 0) {
            LogTrace::FlushAll();
            ::_exit(0);
        }
        if (std::strcmp(mode, "hold") == 0) {
            for (;;) ::pause();
        }
    }
    return 0;
}
