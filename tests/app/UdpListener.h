#pragma once
// A UDP socket on 127.0.0.1:<port> that collects datagrams with their
// arrival time, running the Qt event loop while it waits.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QThread>
#include <QUdpSocket>
#include <string>
#include <vector>

struct Datagram {
    std::string text;
    qint64 atMs;  // on the listener's clock
};

class UdpListener {
  public:
    explicit UdpListener(quint16 port) {
        m_bound = m_socket.bind(QHostAddress(QHostAddress::LocalHost), port);
        m_clock.start();
    }
    bool Bound() const { return m_bound; }
    qint64 NowMs() const { return m_clock.elapsed(); }

    // Runs the event loop for `ms` and returns what arrived meanwhile.
    std::vector<Datagram> Collect(int ms) {
        std::vector<Datagram> got;
        const qint64 until = NowMs() + ms;
        while (NowMs() < until) {
            Poll(got);
            QThread::msleep(2);
        }
        Poll(got);
        return got;
    }

    // Waits up to `ms` for the next datagram.
    bool Next(Datagram& out, int ms) {
        const qint64 until = NowMs() + ms;
        do {
            QCoreApplication::processEvents();
            if (m_socket.hasPendingDatagrams()) {
                out = Read();
                return true;
            }
            QThread::msleep(1);
        } while (NowMs() < until);
        return false;
    }

  private:
    void Poll(std::vector<Datagram>& got) {
        QCoreApplication::processEvents();
        while (m_socket.hasPendingDatagrams()) got.push_back(Read());
    }
    Datagram Read() {
        QByteArray data(static_cast<int>(qMax<qint64>(m_socket.pendingDatagramSize(), 0)), '\0');
        m_socket.readDatagram(data.data(), data.size());
        return {data.toStdString(), NowMs()};
    }

    QUdpSocket m_socket;
    QElapsedTimer m_clock;
    bool m_bound = false;
};
