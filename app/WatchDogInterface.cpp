#include "WatchDogInterface.h"

#include <Paths.h>

#include <QHostAddress>
#include <QTimer>
#include <QUdpSocket>
#include <limits>
#include <random>

namespace {
const QString kAddressPrefix = QStringLiteral("$VMWDG");
constexpr qint32 kMaxInstanceId = 2147483646;
}  // namespace

CWatchDogInterface::CWatchDogInterface(QObject* parent) : QObject(parent) {}

CWatchDogInterface::~CWatchDogInterface() {
    // Never started: there is no socket and nothing to leave.
    if (m_socket != nullptr) Send(LeaveDatagram(m_instanceId));
    DropTimer();
}

void CWatchDogInterface::Start(const QString& name, int intervalMs) {
    DropTimer();
    delete m_socket;  // a restart replaces the socket of the previous start
    m_socket = new QUdpSocket(this);
    m_timer = new QTimer(this);
    m_timer->setInterval(intervalMs);
    m_timer->start();
    m_instanceId = DrawInstanceId();
    m_name = name;
    m_left = false;
    connect(m_timer, &QTimer::timeout, this, &CWatchDogInterface::timerTimeout);
}

qint32 CWatchDogInterface::DrawInstanceId() {
    std::random_device device;
    std::mt19937 generator(device());
    // Two 32-bit draws make the 53-bit fraction.
    double fraction =
        std::generate_canonical<double, std::numeric_limits<double>::digits>(generator);
    qint64 id = static_cast<qint64>(fraction * 2147483647.0);
    // generate_canonical may round up to 1.0; the id stays inside its range.
    if (id > kMaxInstanceId) id = kMaxInstanceId;
    if (id < 0) id = 0;
    return static_cast<qint32>(id);
}

QByteArray CWatchDogInterface::JoinDatagram(qint32 id, const QString& name, const QString& path,
                                            quint8 flag) {
    return QStringLiteral("%1,1,%2,20,%3,%4,%5,Running*aa\n")
        .arg(kAddressPrefix, QString::number(id), name, path, QString::number(flag))
        .toLocal8Bit();
}

QByteArray CWatchDogInterface::LeaveDatagram(qint32 id) {
    return QStringLiteral("%1,2,%2\n").arg(kAddressPrefix, QString::number(id)).toLocal8Bit();
}

QByteArray CWatchDogInterface::TextDatagram(int type, qint32 id, const QString& text) {
    return QStringLiteral("%1,%2,%3,%4")
        .arg(kAddressPrefix, QString::number(type), QString::number(id), text)
        .toLocal8Bit();
}

QString CWatchDogInterface::ProgramPath(const QStringList& arguments, const QString& appDir) {
    QString path = arguments.join(QLatin1Char('~')).trimmed();
    if (!platform::IsAbsolutePath(path.toStdString())) path = appDir + QLatin1Char('/') + path;
    return path;
}

void CWatchDogInterface::wd_join() {
    if (m_left) return;
    Send(JoinDatagram(m_instanceId, m_name, m_programPath, m_flag));
}

void CWatchDogInterface::wd_leave() {
    Send(LeaveDatagram(m_instanceId));
    m_left = true;
    DropTimer();
}

void CWatchDogInterface::wd_info(const QString& text) {
    Send(TextDatagram(3, m_instanceId, text));
}

void CWatchDogInterface::wd_warning(const QString& text) {
    Send(TextDatagram(4, m_instanceId, text));
}

void CWatchDogInterface::wd_error(const QString& text) {
    Send(TextDatagram(5, m_instanceId, text));
}

void CWatchDogInterface::wd_allSensors(const QString& text) {
    Send(TextDatagram(6, m_instanceId, text));
}

void CWatchDogInterface::timerTimeout() {
    wd_join();
}

void CWatchDogInterface::Send(const QByteArray& datagram) {
    // Before Start there is no socket to send with.
    if (m_socket == nullptr) return;
    // A watchdog that is not listening loses the datagram; nothing to report.
    m_socket->writeDatagram(datagram, QHostAddress(QHostAddress::LocalHost), m_port);
    m_socket->flush();
}

void CWatchDogInterface::DropTimer() {
    if (m_timer == nullptr) return;
    m_timer->stop();
    delete m_timer;
    m_timer = nullptr;
}
