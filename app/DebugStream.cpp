#include "DebugStream.h"

#include <QMetaObject>
#include <QPlainTextEdit>
#include <QStringList>
#include <cstring>
#include <iostream>
#include <string_view>
#include <utility>

Q_DebugStream::Q_DebugStream(std::ostream& stream)
    : m_stream(stream), m_previous(stream.rdbuf(this)) {}

Q_DebugStream::~Q_DebugStream() {
    m_stream.rdbuf(m_previous);
}

Q_DebugStream::int_type Q_DebugStream::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (m_previous) m_previous->sputc(traits_type::to_char_type(c));
    if (traits_type::to_char_type(c) == '\n') emit updateText(QString());
    return c;
}

std::streamsize Q_DebugStream::xsputn(const char* text, std::streamsize count) {
    if (text == nullptr || count <= 0) return 0;
    if (m_previous) m_previous->sputn(text, count);
    // The window shows the text up to a terminating zero, never past the block.
    std::string_view block(text, static_cast<size_t>(count));
    block = block.substr(0, block.find('\0'));
    if (block.empty()) return count;
    size_t start = 0;
    while (true) {
        const size_t end = block.find('\n', start);
        const std::string_view piece = block.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        emit updateText(QString::fromLocal8Bit(piece.data(), static_cast<int>(piece.size())));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return count;
}

int Q_DebugStream::sync() {
    return m_previous ? m_previous->pubsync() : 0;
}

CDebugLinePump::CDebugLinePump(QPlainTextEdit* view, int maxLines)
    : QObject(view), m_view(view), m_maxLines(maxLines > 0 ? static_cast<size_t>(maxLines) : 1) {}

void CDebugLinePump::AddLine(const QString& line) {
    bool first = false;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        first = m_pending.empty();
        m_pending.push_back(line);
        if (m_pending.size() > m_maxLines) m_pending.pop_front();
    }
    // One flush per batch: the writer that starts a batch asks for it.
    if (first)
        QMetaObject::invokeMethod(
            this, [this] { Flush(); }, Qt::QueuedConnection);
}

void CDebugLinePump::Flush() {
    std::deque<QString> lines;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        lines.swap(m_pending);
    }
    if (lines.empty() || !m_view) return;
    QStringList all;
    all.reserve(static_cast<int>(lines.size()));
    for (auto& line : lines) all.append(std::move(line));
    // Each line end starts a new block, so one append adds one block per line.
    m_view->appendPlainText(all.join(QLatin1Char('\n')));
}

namespace {

void ToStandardOutput(QtMsgType, const QMessageLogContext&, const QString& message) {
    const QByteArray text = message.toLocal8Bit();
    std::cout.write(text.constData(), text.size());
    std::cout.flush();
}

}  // namespace

CDebugMessageHandler::CDebugMessageHandler()
    : m_previous(qInstallMessageHandler(ToStandardOutput)) {}

CDebugMessageHandler::~CDebugMessageHandler() {
    qInstallMessageHandler(m_previous);
}
