// The UDP peer: stands in for the operator GUI, DRZ and XDRZ, the loggers,
// the serial-to-UDP bridges and the watchdog. It binds one port, journals
// every datagram, answers configured datagrams, and ends after
// "$ZQPEL,24,\n\r" as the real programs do.
//
//   <image> [--port N] [--journal FILE] [--answer IN OUT]... [--answer-to N]
//           [--stay] [any other words, ignored]
//
// The port is the first of: --port N; -confsock N (a bridge's command
// line); -name NAME (the port of NAME_CMD or NAME in the suite's port
// table, as the loggers are started); the image's own default (PELMainApp.exe
// 4002, Watchdog.exe 33455). Exit status 0 after the quit sentence, 2 when
// the port is unknown or cannot be bound or the journal cannot be opened.
#include <PeerSupport.h>
#include <PortTable.h>

#include <boost/asio/ip/udp.hpp>
#include <iostream>

namespace {

namespace asio = boost::asio;
using asio::ip::udp;

const std::string kQuit = "$ZQPEL,24,\n\r";

struct Answer {
    std::string in;  // exact datagram, or a prefix when it ended in "*"
    bool prefix = false;
    std::string out;
};

struct Options {
    uint16_t port = 0;
    std::string journal;
    std::vector<Answer> answers;
    uint16_t answerTo = PortOf("ZOR_CMD");  // 0: the datagram's sender
    bool stay = false;
};

uint16_t DefaultPort(const std::string& image) {
    if (image == "PELMainApp.exe") return kGuiPort;
    if (image == "Watchdog.exe") return 33455;
    return 0;
}

Options Parse(int argc, char** argv, const std::string& image) {
    Options o;
    uint16_t confsock = 0, named = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const bool hasNext = i + 1 < argc;
        if (word == "--port" && hasNext) {
            o.port = peer::ParsePort(argv[++i]);
        } else if (word == "--journal" && hasNext) {
            o.journal = argv[++i];
        } else if (word == "--answer" && i + 2 < argc) {
            Answer a;
            a.in = peer::Unescape(argv[++i]);
            if (!a.in.empty() && a.in.back() == '*') {
                a.in.pop_back();
                a.prefix = true;
            }
            a.out = peer::Unescape(argv[++i]);
            o.answers.push_back(a);
        } else if (word == "--answer-to" && hasNext) {
            const std::string value = argv[++i];
            o.answerTo = value == "0" ? 0 : peer::ParsePort(value);
        } else if (word == "--stay") {
            o.stay = true;
        } else if (word == "-confsock" && hasNext) {
            confsock = peer::ParsePort(argv[++i]);
        } else if (word == "-name" && hasNext) {
            const std::string name = argv[++i];
            named = PortOf(name + "_CMD");
            if (named == 0) named = PortOf(name);
        }
        // Anything else belongs to the real program's command line.
    }
    if (o.port == 0) o.port = confsock;
    if (o.port == 0) o.port = named;
    if (o.port == 0) o.port = DefaultPort(image);
    if (image == "Watchdog.exe") o.stay = true;
    if (o.journal.empty() && o.port != 0)
        o.journal = image + "." + std::to_string(o.port) + ".journal";
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string image = peer::BaseName(argc > 0 ? argv[0] : "peer");
    const Options o = Parse(argc, argv, image);
    if (o.port == 0) {
        std::cerr << image << ": no port (give --port N)\n";
        return 2;
    }
    try {
        asio::io_context context;
        udp::socket socket(context, udp::v4());
        socket.bind(udp::endpoint(udp::v4(), o.port));
        // The journal exists once the port is bound: a test can wait for it.
        peer::Journal journal;
        if (!journal.Open(o.journal)) {
            std::cerr << image << ": cannot open journal " << o.journal << '\n';
            return 2;
        }
        std::vector<char> buffer(65535);
        for (;;) {
            udp::endpoint from;
            boost::system::error_code error;
            const size_t n = socket.receive_from(asio::buffer(buffer), from, 0, error);
            if (error) continue;
            const std::string datagram(buffer.data(), n);
            journal.Write(peer::Escape(datagram));
            for (const Answer& a : o.answers) {
                const bool match =
                    a.prefix ? datagram.compare(0, a.in.size(), a.in) == 0 : datagram == a.in;
                if (!match) continue;
                const udp::endpoint to =
                    o.answerTo == 0 ? from
                                    : udp::endpoint(asio::ip::address_v4::loopback(), o.answerTo);
                socket.send_to(asio::buffer(a.out), to, 0, error);
                break;
            }
            if (!o.stay && datagram == kQuit) return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << image << ": port " << o.port << ": " << e.what() << '\n';
        return 2;
    }
}
