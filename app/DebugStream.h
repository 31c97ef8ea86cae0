#pragma once
// What feeds the debug window: a stream buffer that turns everything written
// to a standard stream into lines, a pump that carries those lines from any
// thread to the text view on the GUI thread, and the Qt message handler that
// sends every Qt message to standard output.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtGlobal>
#include <deque>
#include <mutex>
#include <ostream>
#include <streambuf>

class QPlainTextEdit;

// Installed as the buffer of a standard stream (std::cout, std::cerr) for its
// lifetime; puts the previous buffer back when it goes. It keeps no
// characters of its own: every write is split into lines at once and also
// handed on to the previous buffer, so the terminal still sees everything.
//  - a single character: a line end gives one empty line, any other is
//    dropped from the window;
//  - a block: without a line end it is one line; otherwise it is split at
//    every line end, empty pieces included ("a\n" gives "a" and "").
// Writes may come from any thread; `updateText` is emitted on the writer's
// thread.
class Q_DebugStream : public QObject, public std::basic_streambuf<char> {
    Q_OBJECT
  public:
    explicit Q_DebugStream(std::ostream& stream);
    ~Q_DebugStream() override;

    Q_DebugStream(const Q_DebugStream&) = delete;
    Q_DebugStream& operator=(const Q_DebugStream&) = delete;

  signals:
    // One line of text, without its line end.
    void updateText(const QString& text);

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

  private:
    std::ostream& m_stream;
    std::streambuf* m_previous;
};

// Takes lines from any thread and appends them to a text view on the view's
// thread, all lines that arrived since the last turn of the event loop in one
// append, in arrival order. A view keeps at most `maxLines` lines, so at most
// that many wait here too: older ones would be dropped from the view anyway.
class CDebugLinePump : public QObject {
    Q_OBJECT
  public:
    // Becomes a Qt child of the view.
    CDebugLinePump(QPlainTextEdit* view, int maxLines);

  public slots:
    // Thread-safe.
    void AddLine(const QString& line);

  private:
    void Flush();

    QPointer<QPlainTextEdit> m_view;
    const size_t m_maxLines;
    std::mutex m_mutex;  // guards m_pending only
    std::deque<QString> m_pending;
};

// Routes every Qt message, of whatever kind, to standard output as it is
// (no line end added) while it exists; puts the previous handler back.
class CDebugMessageHandler {
  public:
    CDebugMessageHandler();
    ~CDebugMessageHandler();

    CDebugMessageHandler(const CDebugMessageHandler&) = delete;
    CDebugMessageHandler& operator=(const CDebugMessageHandler&) = delete;

  private:
    QtMessageHandler m_previous;
};
