// The grid server ("Tessera.exe"): an HTTP service on 127.0.0.1:9091 that
// answers GET "/v1/pelgridengine/api/service/shutdown" with 200 and then
// ends. Every other request gets 404 and the service goes on.
//
//   Tessera.exe [--port N] [--journal FILE] [any other words, ignored]
//
// The journal (default "Tessera.exe.<port>.journal" in the working folder)
// gets one line per request: stamp, method, target. It exists once the
// service listens. Exit status 0 after the shutdown request, 2 when the
// port cannot be bound or the journal cannot be opened.
#include <PeerSupport.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <iostream>

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;

const std::string kShutdown = "/v1/pelgridengine/api/service/shutdown";
constexpr std::chrono::seconds kRequestTimeout{5};

}  // namespace

int main(int argc, char** argv) {
    const std::string image = peer::BaseName(argc > 0 ? argv[0] : "Tessera.exe");
    uint16_t port = 9091;
    std::string journalPath;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--port") {
            port = peer::ParsePort(argv[++i]);
        } else if (word == "--journal") {
            journalPath = argv[++i];
        }
    }
    if (port == 0) {
        std::cerr << image << ": bad port\n";
        return 2;
    }
    if (journalPath.empty()) journalPath = image + "." + std::to_string(port) + ".journal";
    try {
        asio::io_context context;
        tcp::acceptor acceptor(context);
        const tcp::endpoint at(asio::ip::address_v4::loopback(), port);
        acceptor.open(at.protocol());
        acceptor.set_option(tcp::acceptor::reuse_address(true));
        acceptor.bind(at);
        acceptor.listen();
        peer::Journal journal;
        if (!journal.Open(journalPath)) {
            std::cerr << image << ": cannot open journal " << journalPath << '\n';
            return 2;
        }
        for (;;) {
            beast::tcp_stream stream(context);
            acceptor.accept(stream.socket());
            beast::flat_buffer buffer;
            http::request<http::string_body> request;
            boost::system::error_code error;
            // A client that connects and sends nothing must not keep the
            // one-connection-at-a-time server from its shutdown request.
            stream.expires_after(kRequestTimeout);
            http::async_read(
                stream, buffer, request,
                [&error](const boost::system::error_code& e, std::size_t) { error = e; });
            context.restart();
            context.run();
            if (error) continue;
            tcp::socket& socket = stream.socket();
            const std::string method(request.method_string());
            const std::string target(request.target());
            journal.Write(peer::Escape(method + " " + target));
            const bool shutdown = request.method() == http::verb::get && target == kShutdown;
            http::response<http::string_body> response(
                shutdown ? http::status::ok : http::status::not_found, request.version());
            response.set(http::field::content_type, "text/plain");
            response.body() = shutdown ? "shutting down\n" : "not found\n";
            response.keep_alive(false);
            response.prepare_payload();
            http::write(socket, response, error);
            socket.shutdown(tcp::socket::shutdown_both, error);
            if (shutdown) return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << image << ": port " << port << ": " << e.what() << '\n';
        return 2;
    }
}
