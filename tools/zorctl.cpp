// zorctl: drives a running ZOR the way the operator's GUI does, by sending
// the suite's sentences to its command port, and shows what ZOR sends back
// and which processes it registered.
//
//   zorctl [--to HOST:PORT] COMMAND [ARGUMENTS] [OPTIONS]
//
// Exit status: 0 done; 1 the command could not be carried out (no answer,
// a port that cannot be bound, a failed send, an unreachable database);
// 2 the command line is wrong (unknown command or option, bad sounder key,
// bad counter, bad escape).
#include <PeerSupport.h>
#include <PortTable.h>
#include <ProcessDatabase.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/signal_set.hpp>
#include <chrono>
#include <csignal>
#include <ctime>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ZorctlSentences.h"
#include "ZorctlStatus.h"

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using Clock = std::chrono::steady_clock;

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// The longest payload one UDP datagram can carry.
constexpr size_t kMaxDatagram = 65507;

// A parsed command line.
struct Invocation {
    std::string command;
    std::vector<std::string> words;             // positional arguments
    std::map<std::string, std::string> values;  // options with a value
    std::set<std::string> flags;                // options without one
    zorctl::Destination to{"127.0.0.1", PortOf("ZOR_CMD")};
};

struct Command {
    const char* name;
    const char* synopsis;  // arguments and options after the name
    const char* summary;   // one line for the command list
    const char* details;   // the rest of the command's help
    size_t minWords;
    size_t maxWords;
    std::vector<const char*> flags;   // options without a value
    std::vector<const char*> values;  // options taking one value
    std::function<int(const Invocation&)> run;
};

const std::vector<Command>& Commands();

const Command* Find(const std::string& name) {
    for (const Command& c : Commands()) {
        if (name == c.name) return &c;
    }
    return nullptr;
}

int Usage(const std::string& command, const std::string& message) {
    std::cerr << "zorctl" << (command.empty() ? "" : " " + command) << ": " << message << "\n"
              << "Try 'zorctl " << (command.empty() ? "" : command + " ") << "--help'.\n";
    return kUsage;
}

int Failure(const std::string& command, const std::string& message) {
    std::cerr << "zorctl " << command << ": " << message << "\n";
    return kFailed;
}

void PrintHelp(const Command& c) {
    std::cout << "Usage: zorctl [--to HOST:PORT] " << c.name << (*c.synopsis ? " " : "")
              << c.synopsis << "\n\n"
              << c.summary << "\n"
              << (*c.details ? "\n" : "") << c.details;
}

void PrintOverview(std::ostream& out) {
    out << "Usage: zorctl [--to HOST:PORT] COMMAND [ARGUMENTS] [OPTIONS]\n"
           "\n"
           "Sends the suite's command sentences to ZOR (127.0.0.1:4001 unless --to says\n"
           "otherwise), shows what ZOR sends to the GUI's port and which processes it\n"
           "registered.\n"
           "\n"
           "Commands:\n";
    for (const Command& c : Commands()) {
        std::string head = std::string("  ") + c.name;
        head += std::string(head.size() < 22 ? 22 - head.size() : 1, ' ');
        out << head << c.summary << "\n";
    }
    out << "\n"
           "A sounder KEY is TYPE_SERIAL, both decimal 0..65535 (1302_221).\n"
           "'zorctl COMMAND --help' describes one command.\n"
           "\n"
           "Exit status: 0 done, 1 not done (no answer, port taken, send failed,\n"
           "database unreachable), 2 wrong command line.\n";
}

// ---- UDP --------------------------------------------------------------

std::optional<udp::endpoint> Resolve(asio::io_context& context,
                                     const zorctl::Destination& destination, std::string& error) {
    boost::system::error_code code;
    udp::resolver resolver(context);
    const auto results =
        resolver.resolve(udp::v4(), destination.host, std::to_string(destination.port), code);
    if (code || results.empty()) {
        error = "cannot resolve " + destination.host + ": " + code.message();
        return std::nullopt;
    }
    return results.begin()->endpoint();
}

bool SendFrom(udp::socket& socket, const udp::endpoint& to, const std::string& bytes,
              std::string& error) {
    boost::system::error_code code;
    const size_t sent = socket.send_to(asio::buffer(bytes), to, 0, code);
    if (code || sent != bytes.size()) {
        error = "sending to " + to.address().to_string() + ":" + std::to_string(to.port()) +
                " failed: " + (code ? code.message() : "datagram cut");
        return false;
    }
    return true;
}

// Sends one datagram from a socket of its own.
int SendDatagram(const Invocation& inv, const std::string& bytes) {
    asio::io_context context;
    std::string error;
    const auto to = Resolve(context, inv.to, error);
    if (!to) return Failure(inv.command, error);
    udp::socket socket(context);
    boost::system::error_code code;
    socket.open(udp::v4(), code);
    if (code) return Failure(inv.command, "cannot open a UDP socket: " + code.message());
    if (!SendFrom(socket, *to, bytes, error)) return Failure(inv.command, error);
    return kOk;
}

// Binds 127.0.0.1:port; an empty optional with the reason when it is taken.
std::optional<udp::socket> BindLoopback(asio::io_context& context, uint16_t port,
                                        std::string& error) {
    udp::socket socket(context);
    boost::system::error_code code;
    socket.open(udp::v4(), code);
    if (!code) socket.bind(udp::endpoint(asio::ip::address_v4::loopback(), port), code);
    if (code) {
        error = "cannot bind 127.0.0.1:" + std::to_string(port) + ": " + code.message();
        if (port == kGuiPort)
            error += " (the GUI's port: is the GUI or another 'zorctl watch' running?)";
        return std::nullopt;
    }
    return socket;
}

// Runs the receive loop on `socket` until `onDatagram` returns false, the
// deadline passes or the context is stopped. False, with the reason, when
// receiving failed.
bool ReceiveLoop(asio::io_context& context, udp::socket& socket,
                 const std::function<bool(const std::string&)>& onDatagram,
                 std::optional<Clock::time_point> deadline, std::string& error) {
    std::vector<char> buffer(kMaxDatagram + 1);
    udp::endpoint from;
    bool done = false;
    std::function<void()> arm = [&]() {
        socket.async_receive_from(
            asio::buffer(buffer), from, [&](const boost::system::error_code& code, size_t n) {
                if (code == asio::error::operation_aborted) return;
                // A refused or reset report belongs to an earlier send; the
                // socket goes on receiving. Anything else ends the loop.
                const bool transient = code == asio::error::connection_refused ||
                                       code == asio::error::connection_reset;
                if (code && !transient) error = "receiving failed: " + code.message();
                if ((code && !transient) || (!code && !onDatagram(std::string(buffer.data(), n)))) {
                    done = true;
                    context.stop();
                    return;
                }
                arm();
            });
    };
    arm();
    if (deadline) {
        while (!done && !context.stopped() && context.run_one_until(*deadline) > 0) {
        }
    } else {
        context.run();
    }
    return error.empty();
}

// ---- commands -----------------------------------------------------------

std::optional<zorctl::SounderKey> KeyOrUsage(const Invocation& inv, const std::string& text,
                                             int& status) {
    std::string error;
    auto key = zorctl::ParseKey(text, error);
    if (!key) status = Usage(inv.command, error);
    return key;
}

int RunStartList(const Invocation& inv) {
    std::string error;
    const auto sentence = zorctl::StartList(inv.words, error);
    if (!sentence) return Usage(inv.command, error);
    return SendDatagram(inv, *sentence);
}

int RunLogging(const Invocation& inv, bool start) {
    int status = kOk;
    const auto key = KeyOrUsage(inv, inv.words[0], status);
    if (!key) return status;
    const std::string& counter = inv.words[1];
    if (!zorctl::IsCounter(counter))
        return Usage(inv.command, "bad file counter '" + peer::Escape(counter) +
                                      "': expected 1 to 9 decimal digits");
    const bool label = inv.flags.count("--label") > 0;
    return SendDatagram(inv, start ? zorctl::LogStart(*key, counter, label)
                                   : zorctl::LogStop(*key, counter, label));
}

int RunStopPing(const Invocation& inv) {
    int status = kOk;
    const auto key = KeyOrUsage(inv, inv.words[0], status);
    if (!key) return status;
    return SendDatagram(inv, zorctl::StopPing(*key, inv.flags.count("--label") > 0));
}

int RunSurveyChange(const Invocation& inv) {
    int status = kOk;
    const auto key = KeyOrUsage(inv, inv.words[0], status);
    if (!key) return status;
    return SendDatagram(inv, zorctl::SurveyChange(*key));
}

int RunSend(const Invocation& inv) {
    std::string error;
    const auto bytes = zorctl::Unescape(inv.words[0], error);
    if (!bytes) return Usage(inv.command, error);
    if (bytes->empty()) return Usage(inv.command, "nothing to send");
    if (bytes->size() > kMaxDatagram)
        return Usage(inv.command, "more than " + std::to_string(kMaxDatagram) +
                                      " bytes do not fit one datagram");
    return SendDatagram(inv, *bytes);
}

std::optional<long> OptionNumber(const Invocation& inv, const char* option, long fallback, long low,
                                 long high, int& status) {
    const auto it = inv.values.find(option);
    if (it == inv.values.end()) return fallback;
    const auto value = zorctl::ParseNumber(it->second, low, high);
    if (!value)
        status = Usage(inv.command, std::string("bad value for ") + option + ": expected " +
                                        std::to_string(low) + ".." + std::to_string(high));
    return value;
}

int RunAlive(const Invocation& inv) {
    int status = kOk;
    const auto timeoutMs = OptionNumber(inv, "--timeout", 1000, 1, 600000, status);
    if (!timeoutMs) return status;
    asio::io_context context;
    std::string error;
    const auto to = Resolve(context, inv.to, error);
    if (!to) return Failure(inv.command, error);
    // ZOR answers to the GUI's address whoever asked, so the answer can only
    // be seen on the GUI's port.
    auto socket = BindLoopback(context, kGuiPort, error);
    if (!socket) return Failure(inv.command, error);
    const auto start = Clock::now();
    if (!SendFrom(*socket, *to, zorctl::Sentence(100), error)) return Failure(inv.command, error);
    bool answered = false;
    const bool received = ReceiveLoop(
        context, *socket,
        [&answered](const std::string& datagram) {
            // Whatever else ZOR relays to the GUI meanwhile is not the answer.
            answered = datagram.rfind("$ZQPEL,101,", 0) == 0;
            return !answered;
        },
        start + std::chrono::milliseconds(*timeoutMs), error);
    if (!received) return Failure(inv.command, error);
    if (!answered)
        return Failure(inv.command, "no answer from ZOR at " + inv.to.host + ":" +
                                        std::to_string(inv.to.port) + " within " +
                                        std::to_string(*timeoutMs) + " ms");
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    std::cout << "ZOR is alive (answered in " << ms << " ms)\n";
    return kOk;
}

// "2026-03-05T14:07:09.123Z"
std::string UtcStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    char text[40];
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms));
    return text;
}

int RunWatch(const Invocation& inv) {
    int status = kOk;
    const auto port = OptionNumber(inv, "--port", kGuiPort, 1, 65535, status);
    if (!port) return status;
    const auto count = OptionNumber(inv, "--count", 0, 0, 1000000000, status);
    if (!count) return status;
    asio::io_context context;
    std::string error;
    auto socket = BindLoopback(context, static_cast<uint16_t>(*port), error);
    if (!socket) return Failure(inv.command, error);
    asio::signal_set stop(context, SIGINT, SIGTERM);
    stop.async_wait([&context](const boost::system::error_code&, int) { context.stop(); });
    std::cerr << "zorctl watch: listening on 127.0.0.1:" << *port << " (Ctrl-C ends)" << std::endl;
    long seen = 0;
    const bool received = ReceiveLoop(
        context, *socket,
        [&](const std::string& datagram) {
            std::cout << UtcStamp() << ' ' << peer::Escape(datagram) << std::endl;
            // Output that can no longer be written ends the watch.
            return std::cout && (*count == 0 || ++seen < *count);
        },
        std::nullopt, error);
    if (!received) return Failure(inv.command, error);
    return std::cout ? kOk : Failure(inv.command, "cannot write the output");
}

int RunStatus(const Invocation& inv) {
    const auto it = inv.values.find("--dsn");
    const std::string dsn = it == inv.values.end() ? kSuiteDsn : it->second;
    std::string error;
    const auto rows = zorctl::ReadRegisteredProcesses(dsn, error);
    if (!rows) return Failure(inv.command, error);
    std::cout << zorctl::FormatStatus(*rows);
    if (rows->empty()) std::cout << "(no process registered)\n";
    return kOk;
}

std::function<int(const Invocation&)> Sends(int number) {
    return [number](const Invocation& inv) { return SendDatagram(inv, zorctl::Sentence(number)); };
}

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"start-list",
         "KEY[;NAME]...",
         "start handlers for these sounders (sentence 13)",
         "Sends \"$ZQPEL,13,\" with the items joined by \":\", then \"\\n\\r\":\n"
         "  zorctl start-list 1302_221 1602_60   ->  $ZQPEL,13,1302_221:1602_60\\n\\r\n"
         "An item may carry \";NAME\"; ZOR passes it over.\n",
         1,
         64,
         {},
         {},
         RunStartList},
        {"log-start",
         "KEY COUNTER [--label]",
         "start logging on a sounder (sentence 20)",
         "Sends \"$ZQPEL,20,KEY:COUNTER,LABEL\\n\\r\"; LABEL is 1 with --label (report the\n"
         "raw-data disk's volume label to XDRZ), else 0. COUNTER: 1 to 9 digits.\n",
         2,
         2,
         {"--label"},
         {},
         [](const Invocation& inv) { return RunLogging(inv, true); }},
        {"log-stop",
         "KEY COUNTER [--label]",
         "stop logging on a sounder (sentence 21)",
         "Sends \"$ZQPEL,21,KEY:COUNTER,LABEL\\n\\r\"; LABEL as for log-start.\n",
         2,
         2,
         {"--label"},
         {},
         [](const Invocation& inv) { return RunLogging(inv, false); }},
        {"stop-ping",
         "KEY [--label]",
         "stop pinging on a sounder (sentence 22)",
         "Sends \"$ZQPEL,22,KEY:LABEL\\n\\r\"; LABEL as for log-start.\n",
         1,
         1,
         {"--label"},
         {},
         RunStopPing},
        {"survey-change",
         "KEY",
         "the survey of a sounder changed (sentence 5)",
         "Sends \"$ZQPEL,5,KEY,\\n\\r\".\n",
         1,
         1,
         {},
         {},
         RunSurveyChange},
        {"restart-tide",
         "",
         "restart the real-time tide bridge (sentence 71)",
         "Sends \"$ZQPEL,71,\\n\\r\".\n",
         0,
         0,
         {},
         {},
         Sends(71)},
        {"restart-keel",
         "",
         "restart the depth-below-keel bridge (sentence 72)",
         "Sends \"$ZQPEL,72,\\n\\r\".\n",
         0,
         0,
         {},
         {},
         Sends(72)},
        {"alive",
         "[--timeout MS]",
         "ask ZOR whether it runs (sentence 100, answer 101)",
         "Binds 127.0.0.1:4002, sends \"$ZQPEL,100,\\n\\r\" and waits up to MS (default\n"
         "1000) milliseconds for \"$ZQPEL,101,\\n\\r\". ZOR always answers to the GUI's\n"
         "port 4002, so this fails (status 1) while the GUI or 'zorctl watch' holds it.\n"
         "Status 1 also when no answer comes in time.\n",
         0,
         0,
         {},
         {"--timeout"},
         RunAlive},
        {"terminate-handlers",
         "",
         "ask every sounder handler to end (sentence 702)",
         "Sends \"$ZQPEL,702,\\n\\r\".\n",
         0,
         0,
         {},
         {},
         Sends(702)},
        {"shutdown",
         "",
         "end ZOR and what it started (sentence 24)",
         "Sends \"$ZQPEL,24,\\n\\r\".\n",
         0,
         0,
         {},
         {},
         Sends(24)},
        {"send",
         "RAW",
         "send any text as one datagram",
         "RAW may hold the escapes \\n \\r \\t \\\\ and \\xHH; any other backslash\n"
         "sequence is refused (status 2). Example:\n"
         "  zorctl send '$ZQPEL,60,1302_221,x\\n\\r'\n",
         1,
         1,
         {},
         {},
         RunSend},
        {"watch",
         "[--port N] [--count N]",
         "print what ZOR sends to the GUI's port",
         "Binds 127.0.0.1:N (default 4002, the GUI's port: stop the GUI first) and\n"
         "prints each datagram as one line: a UTC time stamp, a blank and the bytes\n"
         "with \\n \\r \\t \\\\ escaped and other non-printing bytes as \\xHH. Runs\n"
         "until Ctrl-C or SIGTERM (status 0), or until --count datagrams arrived.\n",
         0,
         0,
         {},
         {"--port", "--count"},
         RunWatch},
        {"status",
         "[--dsn NAME]",
         "list the processes ZOR registered, alive or gone",
         "Reads the process-id list (pid_list) through the ODBC data source NAME\n"
         "(default ZPELDB, found through ODBCINI and ODBCSYSINI) and prints each\n"
         "name, process id and whether that process runs on this machine.\n"
         "Status 1 when the database cannot be reached or read.\n",
         0,
         0,
         {},
         {"--dsn"},
         RunStatus},
    };
    return commands;
}

// A word of the command line; after "--" every word is an argument.
struct Word {
    std::string text;
    bool plain;  // cannot be an option
};

bool IsOption(const Word& word) {
    return !word.plain && word.text.size() > 1 && word.text[0] == '-';
}

// Splits the command line; returns the status to end with when the command
// is not to be run (help given, or a usage error).
std::optional<int> Parse(int argc, char** argv, Invocation& inv, const Command*& command) {
    bool wantHelp = false;
    bool plain = false;
    std::vector<Word> rest;  // after the command name
    for (int i = 1; i < argc; ++i) {
        const Word word{argv[i], plain};
        if (!IsOption(word)) {
            if (inv.command.empty())
                inv.command = word.text;
            else
                rest.push_back(word);
        } else if (word.text == "--") {
            plain = true;
        } else if (word.text == "--help" || word.text == "-h") {
            wantHelp = true;
        } else if (word.text == "--to") {
            if (i + 1 >= argc) return Usage(inv.command, "--to needs HOST:PORT");
            std::string error;
            const auto to = zorctl::ParseDestination(argv[++i], error);
            if (!to) return Usage(inv.command, error);
            inv.to = *to;
        } else {
            rest.push_back(word);  // the command's own option, checked below
        }
    }
    if (inv.command == "help") {
        // "zorctl help COMMAND" is "zorctl COMMAND --help".
        inv.command = rest.empty() ? "" : rest.front().text;
        rest.clear();
        wantHelp = true;
    }
    if (inv.command.empty()) {
        // Asked for, the overview is the output; otherwise it explains an
        // error.
        PrintOverview(wantHelp ? std::cout : std::cerr);
        return wantHelp ? kOk : kUsage;
    }
    command = Find(inv.command);
    if (command == nullptr) return Usage("", "unknown command '" + inv.command + "'");
    if (wantHelp) {
        PrintHelp(*command);
        return kOk;
    }
    auto listed = [](const std::vector<const char*>& names, const std::string& text) {
        for (const char* name : names) {
            if (text == name) return true;
        }
        return false;
    };
    for (size_t i = 0; i < rest.size(); ++i) {
        const Word& word = rest[i];
        if (!IsOption(word)) {
            inv.words.push_back(word.text);
        } else if (listed(command->flags, word.text)) {
            inv.flags.insert(word.text);
        } else if (listed(command->values, word.text)) {
            if (i + 1 >= rest.size()) return Usage(inv.command, word.text + " needs a value");
            inv.values[word.text] = rest[++i].text;
        } else {
            return Usage(inv.command, "unknown option '" + word.text + "'");
        }
    }
    if (inv.words.size() < command->minWords) return Usage(inv.command, "missing arguments");
    if (inv.words.size() > command->maxWords) return Usage(inv.command, "too many arguments");
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    Invocation inv;
    const Command* command = nullptr;
    try {
        if (const auto status = Parse(argc, argv, inv, command)) return *status;
        return command->run(inv);
    } catch (const std::exception& e) {
        std::cerr << "zorctl: " << e.what() << "\n";
        return kFailed;
    }
}
