#pragma once
// ZOR's side of the suite watchdog: text datagrams to a UDP port on the
// loopback address. A join datagram says "this run is alive" and goes out
// every 10 seconds once started; a leave datagram ends the run's entry.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QTimer;
class QUdpSocket;

class CWatchDogInterface : public QObject {
    Q_OBJECT
  public:
    static constexpr int kJoinIntervalMs = 10000;

    explicit CWatchDogInterface(QObject* parent = nullptr);
    ~CWatchDogInterface() override;

    // Creates the socket and the repeating join timer (`intervalMs`, 10 s
    // unless a test wants it shorter), draws a new instance id and keeps the
    // name shown to the watchdog.
    void Start(const QString& name, int intervalMs = kJoinIntervalMs);

    void setPort(quint16 port) { m_port = port; }
    void setProgramPath(const QString& path) { m_programPath = path; }
    void setFlag(quint8 flag) { m_flag = flag; }

    quint16 port() const { return m_port; }
    const QString& name() const { return m_name; }
    qint32 instanceId() const { return m_instanceId; }
    const QString& programPath() const { return m_programPath; }
    quint8 flag() const { return m_flag; }

    // The datagram texts, in local 8-bit encoding.
    static QByteArray JoinDatagram(qint32 id, const QString& name, const QString& path,
                                   quint8 flag);
    static QByteArray LeaveDatagram(qint32 id);
    static QByteArray TextDatagram(int type, qint32 id, const QString& text);

    // The program path of a run: the arguments joined with "~", trimmed;
    // without any ':' in it, `appDir` and "/" go in front.
    static QString ProgramPath(const QStringList& arguments, const QString& appDir);

    // A random id in [0, 2147483646] for one run.
    static qint32 DrawInstanceId();

  public slots:
    void wd_join();
    void wd_leave();
    void wd_info(const QString& text);
    void wd_warning(const QString& text);
    void wd_error(const QString& text);
    void wd_allSensors(const QString& text);
    void timerTimeout();

  private:
    void Send(const QByteArray& datagram);
    void DropTimer();

    QUdpSocket* m_socket = nullptr;  // child of this object
    QTimer* m_timer = nullptr;       // child of this object
    quint16 m_port = 0;
    QString m_name;
    qint32 m_instanceId = 0;
    QString m_programPath;
    quint8 m_flag = 0;
    // Set by wd_leave: a join queued before the leave (the first heartbeat's
    // single shot) must not bring the run back. Cleared by Start.
    bool m_left = false;
};
