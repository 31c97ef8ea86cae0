#pragma once
// Small helpers for the tests of the operator surface: waiting on a
// condition while the event loop runs, reading the debug window's lines, and
// building the window through the real start-up.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTextBlock>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "ZOR.h"

// Readable texts in test failures.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

// Runs the event loop until `done` holds or `ms` have passed; the result of
// the last check.
inline bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// The view's lines, one per block.
inline QStringList ViewLines(const QPlainTextEdit& view) {
    QStringList lines;
    for (QTextBlock b = view.document()->begin(); b.isValid(); b = b.next()) lines << b.text();
    return lines;
}

inline bool ViewHas(const QPlainTextEdit& view, const QString& line) {
    return ViewLines(view).contains(line);
}

// The window as the process builds it, from these words after argument 0.
inline std::unique_ptr<ZOR> StartZor(std::vector<std::string> words) {
    words.insert(words.begin(), "zor");
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return std::make_unique<ZOR>(static_cast<int>(words.size()), argv.data());
}
