#include "GridServer.h"

#include <Paths.h>
#include <Process.h>

#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QTimer>
#include <QUrl>
#include <exception>

// ---- CCirruloConnector --------------------------------------------------------

QString CCirruloConnector::SettingsPath() {
    return QString::fromStdString(platform::DataFolder()) + QStringLiteral("gui.ini");
}

CCirruloConnector::TYPE_GRIDENGINE CCirruloConnector::getGEType() {
    QSettings settings(SettingsPath(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("RUNTIME"));
    const QString key = QStringLiteral("GRIDENGINE");
    // A file the INI reader could not fully parse would be rewritten from
    // what it understood, dropping the rest: only a readable file is given
    // the missing key.
    if (!settings.contains(key) && settings.status() == QSettings::NoError) {
        settings.setValue(key, kGridEngineTessera);
        settings.sync();
    }
    bool ok = false;
    const int value = settings.value(key, kGridEngineTessera).toInt(&ok);
    settings.endGroup();
    return ok ? value : kGridEngineTessera;
}

// ---- CGridServerClient ----------------------------------------------------------

CGridServerClient::CGridServerClient(TraceSink traceData, QObject* parent)
    : QObject(parent), m_traceData(std::move(traceData)) {}

CGridServerClient::~CGridServerClient() {
    if (!m_network) return;
    // Replies still open are dropped without running their completions.
    for (QNetworkReply* reply : m_network->findChildren<QNetworkReply*>()) {
        reply->disconnect(this);
        reply->abort();
    }
}

void CGridServerClient::StartGridServer() {
    if (CCirruloConnector::getGEType() != CCirruloConnector::kGridEngineTessera) return;
    if (platform::IsImageRunning(kImageName) || platform::IsImageRunning(kDebugImageName)) {
        // The running server is replaced: ask it to end, then start the new
        // one a second after its answer (or the request's failure).
        RequestShutdown([this] {
            QTimer::singleShot(kRestartDelay, this, &CGridServerClient::StartTesseraCont);
        });
    } else {
        StartTesseraCont();
    }
}

void CGridServerClient::RequestShutdown(Completion onFinished) {
    ++m_pending;
    QMetaObject::invokeMethod(
        this, [this, onFinished = std::move(onFinished)] { Send(onFinished, false); },
        Qt::QueuedConnection);
}

void CGridServerClient::RequestShutdownAtExit() {
    ++m_pending;
    QMetaObject::invokeMethod(
        this, [this] { Send(Completion(), true); }, Qt::QueuedConnection);
}

bool CGridServerClient::WaitForPending(std::chrono::milliseconds limit) {
    if (m_pending.load() == 0) return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(this, &CGridServerClient::Idle, &loop, &QEventLoop::quit);
    deadline.start(limit);
    // Idle may have been emitted between the check and the connection only
    // on this thread, which is here: check once more.
    if (m_pending.load() == 0) return true;
    loop.exec();
    return m_pending.load() == 0;
}

void CGridServerClient::StartTesseraCont() {
    platform::KillImage(kImageName);
    TraceData("\n\tInfo: Tessera process starting\n");
    std::string error;
    const int pid = platform::SpawnDetached(std::string("./") + kImageName, {}, ".", &error);
    if (pid != -1) {
        TraceData("\n\tInfo: Tessera process started \n");
    } else {
        TraceData("\nFailed to start application. The Tessera process failed to start\n");
    }
}

void CGridServerClient::Send(const Completion& onFinished, bool exitTrace) {
    // Made at the first request: the manager starts threads of its own,
    // which a ZOR that never asks the grid server anything does not need.
    if (!m_network) m_network = std::make_unique<QNetworkAccessManager>();
    QNetworkRequest request{QUrl(QString::fromLatin1(kShutdownUrl))};
    QNetworkReply* reply = m_network->get(request);
    // A server that accepts and never answers must not hold anything: the
    // request is aborted, which finishes it as a failed one.
    QTimer::singleShot(kRequestTimeout, reply, [reply] {
        if (reply->isRunning()) reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, this, [this, reply, onFinished, exitTrace] {
        Finished(reply, onFinished, exitTrace);
    });
}

void CGridServerClient::Finished(QNetworkReply* reply, const Completion& onFinished,
                                 bool exitTrace) {
    if (exitTrace) TraceData("\nTerminate Tessera\n");
    if (reply->error() != QNetworkReply::NoError) {
        qDebug().noquote() << "ERROR!";
        qDebug().noquote() << reply->errorString();
    } else {
        qDebug().noquote() << reply->header(QNetworkRequest::ContentTypeHeader).toString();
        qDebug().noquote()
            << reply->header(QNetworkRequest::LastModifiedHeader).toDateTime().toString();
        qDebug().noquote() << reply->header(QNetworkRequest::ContentLengthHeader).toULongLong();
        qDebug().noquote() << reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        qDebug().noquote()
            << reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    }
    reply->deleteLater();
    if (onFinished) {
        try {
            onFinished();
        } catch (const std::exception& e) {
            qWarning("grid server request completion failed: %s", e.what());
        } catch (...) {
            qWarning("grid server request completion failed");
        }
    }
    if (--m_pending == 0) emit Idle();
}

void CGridServerClient::TraceData(const std::string& text) const {
    if (m_traceData) m_traceData(text);
}
