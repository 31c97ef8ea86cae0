// The debug window's feed on its own: how a stream buffer turns writes into
// lines, that everything still reaches the previous buffer, the trace log's
// echo as the window shows it, the Qt message handler, and the pump that
// carries lines to the view.

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "DebugStream.h"
#include "LogTrace.h"
#include "SurfaceSupport.h"
#include "TraceCapture.h"

namespace {

// A stream with a debug buffer on it, and the lines it emitted.
struct Captured {
    std::stringbuf previous;
    std::ostream stream{&previous};
    Q_DebugStream debug{stream};
    QStringList lines;
    Captured() {
        QObject::connect(&debug, &Q_DebugStream::updateText,
                         [this](const QString& line) { lines << line; });
    }
};

struct Split {
    const char* name;
    std::string block;  // written as one block; empty: the single characters below
    std::string chars;  // written one at a time
    QStringList lines;
};

}  // namespace

TEST(DebugStream, SplitsBlocksAtEveryLineEndAndSingleCharactersOnlyAtLineEnds) {
    const Split cases[] = {
        {"block without line end", "abc", "", {"abc"}},
        {"two lines", "a\nb", "", {"a", "b"}},
        {"trailing line end gives an empty piece", "a\n", "", {"a", ""}},
        {"dispatch header", "\n\nline", "", {"", "", "line"}},
        {"a lone line end as a block", "\n", "", {"", ""}},
        {"text after a zero is not shown", std::string("ab\0cd\n", 6), "", {"ab"}},
        {"a leading zero shows nothing", std::string("\0ab", 3), "", {}},
        {"single characters", "", "ab\nc\n\n", {"", "", ""}},
    };
    for (const auto& c : cases) {
        Captured cap;
        if (!c.block.empty()) cap.stream.write(c.block.data(), c.block.size());
        for (char ch : c.chars) cap.stream.put(ch);
        cap.stream.flush();
        EXPECT_EQ(cap.lines, c.lines) << c.name;
        // The terminal still gets every byte.
        EXPECT_EQ(cap.previous.str(), c.block + c.chars) << c.name;
    }
}

TEST(DebugStream, GivesThePreviousBufferBackWhenItGoes) {
    std::stringbuf previous;
    std::ostream stream(&previous);
    {
        Q_DebugStream debug(stream);
        EXPECT_EQ(stream.rdbuf(), &debug);
    }
    EXPECT_EQ(stream.rdbuf(), &previous);
}

TEST(DebugStream, TraceEchoShowsAsTwoEmptyLinesTheLineAndOneEmptyLine) {
    TraceCapture logged;  // gives "LogTrace" an appender
    QStringList lines;
    {
        Q_DebugStream debug(std::cerr);
        QObject::connect(&debug, &Q_DebugStream::updateText,
                         [&](const QString& line) { lines << line; });
        LogTrace trace("ignored", 1000000);
        trace.SetConsole(true);
        trace.SetConsoleStream(&std::cerr);
        trace.Append("\n\n*F: %s", "TestMachine");
        trace.SetConsole(false);
        trace.Append("not echoed");
    }
    EXPECT_EQ(lines, QStringList({"", "", "*F: TestMachine", ""}));
    EXPECT_EQ(logged.Lines(), std::vector<std::string>({"\n\n*F: TestMachine", "not echoed"}));
}

TEST(DebugStream, QtMessagesOfEveryKindGoToStandardOutputWithoutALineEnd) {
    QStringList lines;
    {
        Q_DebugStream debug(std::cout);
        QObject::connect(&debug, &Q_DebugStream::updateText,
                         [&](const QString& line) { lines << line; });
        CDebugMessageHandler handler;
        qDebug("%s", "ZOR running\n");
        qWarning("a warning");
        qInfo("info %d", 3);
    }
    EXPECT_EQ(lines, QStringList({"ZOR running", "", "a warning", "info 3"}));
}

TEST(DebugLinePump, LinesOfOneTurnArriveInOrderAndAtMostTheViewsLimitWaits) {
    QPlainTextEdit view;
    view.setMaximumBlockCount(10);
    auto* pump = new CDebugLinePump(&view, 10);  // a child of the view
    std::thread writer([&] {
        for (int i = 0; i < 25; ++i) pump->AddLine(QString("line %1").arg(i));
    });
    writer.join();
    // Nothing reaches the view before the event loop turns.
    EXPECT_EQ(view.toPlainText(), QString());
    ASSERT_TRUE(WaitFor([&] { return ViewHas(view, "line 24"); }));
    QStringList expected;
    for (int i = 15; i < 25; ++i) expected << QString("line %1").arg(i);
    EXPECT_EQ(ViewLines(view), expected);
}
