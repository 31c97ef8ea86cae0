// The controller at work: start lists and the registry, relays to stand-in
// handlers and to UDP listeners on the suite's ports, FindHandler's reports
// against the demo database, bridge restarts and the shutdown.
#include <DBoperations.h>
#include <LogTrace.h>
#include <Messages.h>
#include <SuiteDb.h>
#include <TraceCapture.h>
#include <ZORControl.h>
#include <gtest/gtest.h>

#include <atomic>

#include "ControlTestSupport.h"

namespace {

using namespace controltest;
using zortest::SuiteDb;

const std::string kQuit = "$ZQPEL,24,\n\r";

class Controller : public testing::Test {
  protected:
    void SetUp() override {
        messages.setDbOperations(&db);
        ASSERT_EQ(db.connectDatabase(SuiteDb::kDsn, SuiteDb::kUser, SuiteDb::kPassword, nullptr),
                  0);
        messages.initCatalogue();
    }
    void TearDown() override { controller.reset(); }

    CControlSetup Setup(bool answer19 = true) {
        CControlSetup setup;
        setup.handlerFactory = StandInFactory(journal, answer19);
        setup.commandPort = 0;
        setup.launchProcesses = false;
        setup.db = &db;
        setup.messages = &messages;
        return setup;
    }
    void Start(bool answer19 = true) { Start(Setup(answer19)); }
    void Start(const CControlSetup& setup) {
        controller =
            std::make_unique<CZORControl>("ZORControl", CZORControl::SUPERVISE, &log, 0x1F, setup);
        QObject::connect(
            controller.get(), &CZORControl::terminate, controller.get(), [this] { ++terminations; },
            Qt::DirectConnection);
        ASSERT_EQ(controller->StartFsm(0), 0);
        ASSERT_TRUE(controller->CommandPortOpen());
    }
    void Post(int32_t number, const std::string& text) {
        controller->PutSignal(Sentence(number, text, controller.get()), true);
    }
    // Posts a start list and waits until supervision has begun again.
    void StartList(const std::string& items) {
        const size_t before = Count("Job: JobBeginSuperv");
        Post(CZORControl::ZQPEL_13, "$ZQPEL,13," + items + "\n\r");
        ASSERT_TRUE(WaitUntil([&] { return Count("Job: JobBeginSuperv") > before; }));
    }
    size_t Count(const std::string& needle) const {
        size_t n = 0;
        for (const auto& line : trace.Lines())
            if (line.find(needle) != std::string::npos) ++n;
        return n;
    }
    bool WaitTrace(const std::string& needle, int ms = 5000) { return trace.WaitFor(needle, ms); }
    std::vector<std::vector<std::string>> Messages() const {
        return suite.Query(
            "SELECT a.number, s.mess FROM arrivedMessages a LEFT JOIN arrivedMessagesString s "
            "USING (dateYYYYMMDD, millisecSinceMidnight) ORDER BY a.id");
    }

    SuiteDb suite{SuiteDb::Options{true}};
    CDBoperations db{"ctljobs"};
    CMessages messages;
    std::shared_ptr<CHandlerJournal> journal = std::make_shared<CHandlerJournal>();
    TraceCapture trace{"LogTrace"};
    LogTrace log{"", 0};
    std::atomic<int> terminations{0};
    std::unique_ptr<CZORControl> controller;
};

// ---- start list and registry -------------------------------------------------

TEST_F(Controller, StartListMakesHandlersForTheirTypesAndHandsThemTheirKeys) {
    Start();
    // Repeated key, an item with a name, a type outside the handler set.
    StartList("1302_221;EM 1302:1602_60:1302_221:4242_1");
    EXPECT_EQ(journal->CreatedNames(), (std::vector<std::string>{"ZORH_1302221", "ZORH_160260"}));
    ASSERT_TRUE(journal->WaitFor("ZORH_1302221", 1));
    ASSERT_TRUE(journal->WaitFor("ZORH_160260", 1));
    // INIT_PARAM carries the key in the user data; each handler got it once
    // per item naming it.
    const auto first = journal->Of("ZORH_1302221");
    ASSERT_EQ(first.size(), 2u);
    for (const auto& r : first) {
        EXPECT_EQ(r.number, CZORControl::INIT_PARAM);
        EXPECT_EQ(r.type, 1302);
        EXPECT_EQ(r.serial, 221);
        EXPECT_EQ(r.sender, controller.get());
        EXPECT_TRUE(r.payload.empty());
    }
    const auto second = journal->Of("ZORH_160260");
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].type, 1602);
    EXPECT_EQ(second[0].serial, 60);

    EXPECT_TRUE(WaitTrace("Info: Item from start list: 4242_1 "));
    // The list walks the machine through its start states and back.
    EXPECT_GE(Count("St:  SUPERVISE       --> START_HANDL"), 1u);
    EXPECT_GE(Count("St:  START_HANDL     --> WAIT_HANDL_COMP"), 1u);
    EXPECT_GE(Count("--> SUPERVISE"), 1u);

    // A second list with the same keys makes nothing new but greets again.
    StartList("1602_60");
    ASSERT_TRUE(journal->WaitFor("ZORH_160260", 2));
    EXPECT_EQ(journal->CreatedNames().size(), 2u);
}

TEST_F(Controller, ShortFirstItemCreatesNothingYetTheMachineReturnsToSupervise) {
    Start();
    StartList("ab:1302_221");
    EXPECT_TRUE(journal->CreatedNames().empty());
    StartList("");  // shorter than its head
    EXPECT_TRUE(journal->CreatedNames().empty());
}

TEST_F(Controller, StartListHeldBackWhileStartingIsHandledOnceBackInSupervise) {
    // The first list's greeting blocks the worker in START_HANDL while a
    // second list and the termination of an unknown sender queue up.
    Gate gate;
    std::atomic<bool> blocked{false};
    auto inner = StandInFactory(journal);
    CControlSetup setup = Setup();
    setup.handlerFactory =
        [&](const std::string& name, LogTrace* t, uint8_t m,
            std::shared_ptr<boost::asio::io_context> io) -> std::unique_ptr<CFsmBase> {
        class Blocking : public CFsmBase {
          public:
            Blocking(std::unique_ptr<CFsmBase> inner, Gate& gate, std::atomic<bool>& blocked)
                : m_inner(std::move(inner)), m_gate(gate), m_blocked(blocked) {}
            void PutSignal(CPELSignalPtr s, bool back) override {
                if (s && s->GetSignalNo() == CZORControl::INIT_PARAM && !m_blocked.exchange(true))
                    m_gate.Wait();
                m_inner->PutSignal(std::move(s), back);
            }
            std::unique_ptr<CFsmBase> m_inner;
            Gate& m_gate;
            std::atomic<bool>& m_blocked;
        };
        return std::make_unique<Blocking>(inner(name, t, m, io), gate, blocked);
    };
    Start(setup);

    Post(CZORControl::ZQPEL_13, "$ZQPEL,13,1302_221\n\r");
    ASSERT_TRUE(gate.WaitUntilBlocked());
    Post(CZORControl::ZQPEL_13, "$ZQPEL,13,1602_60\n\r");
    controller->PutSignal(std::make_unique<CPELSignal>(CZORControl::TERMINATED, nullptr), true);
    gate.Open();

    ASSERT_TRUE(journal->WaitFor("ZORH_160260", 1));
    EXPECT_EQ(journal->CreatedNames(), (std::vector<std::string>{"ZORH_1302221", "ZORH_160260"}));
    EXPECT_TRUE(journal->DestroyedNames().empty());  // a stray TERMINATED frees nothing
    // The second list ran from SUPERVISE, after the first had finished.
    EXPECT_EQ(Count("St:  SUPERVISE       --> START_HANDL"), 2u);
}

TEST_F(Controller, SentencesAfter76To78AreStillHandled) {
    Start();
    Post(CZORControl::ZQPEL_76, "$ZQPEL,76,\n\r");
    Post(CZORControl::ZQPEL_77, "$ZQPEL,77,\n\r");
    Post(CZORControl::ZQPEL_78, "$ZQPEL,78,\n\r");
    StartList("1302_221");
    EXPECT_EQ(journal->CreatedNames(), std::vector<std::string>{"ZORH_1302221"});
}

TEST_F(Controller, TerminatedRemovesExactlyItsOwnHandler) {
    Start();
    StartList("1302_221:1602_60:1302_7");
    ASSERT_TRUE(journal->WaitFor("ZORH_1302221", 1));
    // 18 ends one handler: the others stay and are still served.
    Post(CZORControl::ZQPEL_18, "$ZQPEL,18,1302_7,\n\r");
    ASSERT_TRUE(journal->WaitDestroyed(1));
    EXPECT_EQ(journal->DestroyedNames(), std::vector<std::string>{"ZORH_13027"});
    Post(CZORControl::ZQPEL_20, "$ZQPEL,20,1302_221:1\n\r");
    ASSERT_TRUE(journal->WaitFor("ZORH_1302221", 2));
    Post(CZORControl::ZQPEL_20, "$ZQPEL,20,1302_7:1\n\r");
    ASSERT_TRUE(WaitTrace("No map entry for sounder type 1302, serno 7"));

    // 702 asks every handler to end; each answers TERMINATED and goes.
    Post(CZORControl::ZQPEL_702, "$ZQPEL,702,\n\r");
    ASSERT_TRUE(journal->WaitDestroyed(3));
    const auto got = journal->Of("ZORH_160260");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].number, CZORControl::ZQPEL_19);
    EXPECT_EQ(got[1].payload, "$ZQPEL,19,1602_60\n\r");
    EXPECT_EQ(got[1].sender, controller.get());
    EXPECT_EQ(Count("Job: JobHandlTerm"), 3u);
    // The keys are free again: a new list makes new handlers.
    StartList("1602_60");
    EXPECT_EQ(journal->CreatedNames().size(), 4u);
}

// ---- relays to handlers --------------------------------------------------------

TEST_F(Controller, SounderSentencesReachTheHandlerTheirKeysName) {
    Start();
    StartList("1302_221:1602_60:1302_7:4242_1");
    struct Case {
        int32_t number;
        std::string text;
        std::string handler;  // empty: nobody gets it
    } cases[] = {
        {CZORControl::ZQPEL_20, "$ZQPEL,20,1302_221:5,0\n\r", "ZORH_1302221"},
        {CZORControl::ZQPEL_5, "$ZQPEL,5,1602_60,survey\n\r", "ZORH_160260"},
        {CZORControl::ZQPEL_62, "$ZQPEL,62,67138_60:1\n\r", "ZORH_160260"},  // cut to 16 bits
        {CZORControl::ZQPEL_473, "$ZQPEL,473,1302,7,x\n\r", "ZORH_13027"},
        {CZORControl::ZQPEL_474, "$ZQPEL,474, 1302 , 221 \n\r", "ZORH_1302221"},
        {CZORControl::ZQPEL_475, "$ZQPEL,475,1302,22a\n\r", ""},
        {CZORControl::ZQPEL_475, "$ZQPEL,475,1302\n\r", ""},
        {CZORControl::ZQPEL_473, "$ZQPEL,473,1302,65757\n\r", ""},  // no cut here
        {CZORControl::ZQPEL_471, "$ZQPEL,471,x,1602,60\n\r", "ZORH_160260"},
        {CZORControl::ZQPEL_471, "$ZQPEL,471,1602,60\n\r", ""},  // fields 4 and 5
    };
    std::map<std::string, size_t> expected;
    for (const auto& name : journal->CreatedNames()) expected[name] = journal->Of(name).size();
    for (const auto& c : cases) {
        Post(c.number, c.text);
        if (!c.handler.empty()) {
            SCOPED_TRACE(c.text);
            const size_t n = ++expected[c.handler];
            ASSERT_TRUE(journal->WaitFor(c.handler, n));
            const auto last = journal->Of(c.handler).back();
            EXPECT_EQ(last.number, c.number);
            EXPECT_EQ(last.payload, c.text);  // unchanged
        }
    }
    // A marker through the same queue: everything before it is done.
    Post(CZORControl::ZQPEL_20, "$ZQPEL,20,1302_7:end\n\r");
    ASSERT_TRUE(journal->WaitFor("ZORH_13027", ++expected["ZORH_13027"]));
    for (const auto& [name, n] : expected) EXPECT_EQ(journal->Of(name).size(), n) << name;
}

TEST_F(Controller, FindHandlerReportsGarbledUnknownAndHandlerlessSounders) {
    Start();
    StartList("4242_1");
    Post(CZORControl::ZQPEL_20, "$ZQPEL,20,12:4\n\r");  // 16 bytes, no '_'
    Post(CZORControl::ZQPEL_21, "$ZQPEL,21,9_9:1\n\r");
    Post(CZORControl::ZQPEL_22, "$ZQPEL,22,4242_1:1\n\r");
    Post(CZORControl::ZQPEL_60, "$ZQPEL,//////");  // 13 bytes, no comma after the address
    ASSERT_TRUE(WaitTrace("ZOR handler for given sounder type: 4242, serial number 1 is missing."));
    ASSERT_TRUE(WaitUntil([&] { return Count("is garbled and disregarded") == 2; }));
    EXPECT_TRUE(WaitTrace(
        "\n\tERROR: Received ZQPEL command is garbled and disregarded: \n\t$ZQPEL,20,12:4\n\r"));
    EXPECT_TRUE(WaitTrace(
        "\n\tWarning: No map entry for sounder type 9, serno 9 given in ZQPEL command:\n\t$ZQPEL,"
        "21,9_9:1\n\r"));
    const std::vector<std::vector<std::string>> expected = {
        {"433", "Garbled command sentence received: $ZQPEL,20,1..."},
        {"431", "No handler for echo sounder type 4242, serial number 1."},
        {"433", "Garbled command sentence received: $ZQPEL,/..."},
    };
    // Each message is two rows, the number's and then the text's.
    EXPECT_TRUE(WaitUntil([&] { return Messages() == expected; }));
    EXPECT_EQ(Messages(), expected);
}

TEST_F(Controller, BroadcastsReachEveryHandlerOrThoseOfOneType) {
    Start();
    StartList("1302_221:1602_60:1302_7");
    for (const auto& name : journal->CreatedNames()) ASSERT_TRUE(journal->WaitFor(name, 1));
    Post(CZORControl::TIDE, "$xTIDE,1.25\r\n");
    Post(CZORControl::NMEA_APB, "$GPAPB,A");
    Post(CZORControl::R20, "$ZQR20,x=1302,");
    Post(CZORControl::R20, "$ZQR20 no type");
    Post(CZORControl::NMEA_XTE, "$GPXTE,end");
    for (const auto& name : journal->CreatedNames()) {
        SCOPED_TRACE(name);
        const bool is1302 = name.rfind("ZORH_1302", 0) == 0;
        ASSERT_TRUE(journal->WaitFor(name, is1302 ? 5 : 4));
        std::vector<std::string> payloads;
        for (const auto& r : journal->Of(name))
            if (r.number != CZORControl::INIT_PARAM) payloads.push_back(r.payload);
        std::vector<std::string> expected = {"$xTIDE,1.25\r\n", "$GPAPB,A"};
        if (is1302) expected.push_back("$ZQR20,x=1302,");
        expected.push_back("$GPXTE,end");
        EXPECT_EQ(payloads, expected);
    }
}

// ---- relays to UDP listeners ---------------------------------------------------

TEST_F(Controller, SentencesForTheGuiAndTheAuxiliaryProcessesGoOutUnchanged) {
    Start();
    struct Case {
        int32_t number;
        std::string text;
        uint16_t port;
        std::string out;  // what arrives; empty: the text itself
    } cases[] = {
        {CZORControl::ZQPEL_39, "$ZQPEL,39,a\n\r", 4002, ""},
        {CZORControl::ZQPEL_32, "$ZQPEL,32\n\r", 4002, ""},
        {CZORControl::ZQPEL_152, "$ZQPEL,152,x,y\n\r", 4002, ""},
        {CZORControl::ZQPEL_172, std::string("$ZQPEL,172,\0z", 13), 4002, ""},
        {CZORControl::ZQPEL_100, "$ZQPEL,100,\n\r", 4002, "$ZQPEL,101,\n\r"},
        {CZORControl::ZQPEL_151, "$ZQPEL,151,1\n\r", 5071, ""},
        {CZORControl::ZQPEL_156, "$ZQPEL,156,\n\r", 5071, ""},
        {CZORControl::ZQPEL_161, "$ZQPEL,161,\n\r", 5081, ""},
        {CZORControl::ZQPEL_171, "$ZQPEL,171,\n\r", 5076, ""},
        {CZORControl::ZQPEL_176, "$ZQPEL,176,\n\r", 5083, ""},
        {CZORControl::ZQPEL_177, "$ZQPEL,177,\n\r", 5083, ""},
        {CZORControl::ZQPEL_179, "$ZQPEL,179,\n\r", 5093, ""},
        {CZORControl::ZQPEL_181, "$ZQPEL,181,\n\r", 5094, ""},
        {CZORControl::ZQPEL_80, "$ZQPEL,80,1500.5,12.1,35\n\r", 5058,
         "$ZQPEL,43,1500.5,12.1,35,\r\n"},
        {CZORControl::ZQPEL_80, "$ZQPEL,80,1500.5\n\r", 5058, "$ZQPEL,43,1500.5,,,\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CInbox inbox(c.port);
        // Through the command port, as the GUI sends them.
        SendUdp(c.text, controller->CommandPort());
        const auto got = inbox.Next();
        ASSERT_TRUE(got);
        EXPECT_EQ(*got, c.out.empty() ? c.text : c.out);
    }
    // Sentence 80 without its third field sends nothing.
    CInbox ssv(5058);
    SendUdp("$ZQPEL,80,,1,2\n\r", controller->CommandPort());
    SendUdp("$ZQPEL,80,\n\r", controller->CommandPort());
    SendUdp("$ZQPEL,80,last,1\n\r", controller->CommandPort());
    EXPECT_EQ(ssv.Next(), std::optional<std::string>("$ZQPEL,43,last,1,,\r\n"));
}

// ---- shutdown ------------------------------------------------------------------

TEST_F(Controller, Sentence24TellsTheAuxiliaryProcessesAndEndsOnceTheHandlersHaveGone) {
    Start();
    StartList("1302_221:1602_60:4242_1");
    std::map<uint16_t, std::unique_ptr<CInbox>> inboxes;
    for (uint16_t port : {5076, 5055, 5071, 5093, 5094, 5081, 5083, 4002})
        inboxes[port] = std::make_unique<CInbox>(port);

    SendUdp(kQuit, controller->CommandPort());
    ASSERT_TRUE(journal->WaitDestroyed(2));
    ASSERT_TRUE(WaitUntil([&] { return terminations.load() == 1; }));
    EXPECT_TRUE(WaitTrace("\n\tInfo: Terminate SRHLogger ...\n"));
    for (uint16_t port : {5076, 5055, 5071, 5093, 5094}) {
        SCOPED_TRACE(port);
        EXPECT_EQ(inboxes[port]->Next(), std::optional<std::string>(kQuit));
    }
    for (uint16_t port : {5081, 5083, 4002}) EXPECT_FALSE(inboxes[port]->Next(200)) << port;
    EXPECT_EQ(journal->Of("ZORH_1302221").back().payload, "$ZQPEL,19,1302_221\n\r");
    EXPECT_EQ(Count("Job: JobHandlerTermResp"), 2u);

    // Still answered, and a second 24 starts nothing.
    SendUdp("$ZQPEL,100,\n\r", controller->CommandPort());
    EXPECT_EQ(inboxes[4002]->Next(), std::optional<std::string>("$ZQPEL,101,\n\r"));
    SendUdp(kQuit, controller->CommandPort());
    ASSERT_TRUE(WaitTrace("Job: JobDisregardSig"));
    EXPECT_FALSE(inboxes[5076]->Next(200));
    EXPECT_EQ(terminations.load(), 1);
}

TEST_F(Controller, WithoutHandlersSentence24EndsAtOnce) {
    Start();
    StartList("4242_1");  // an entry that has no handler is not waited for
    const auto before = Clock::now();
    Post(CZORControl::ZQPEL_24, kQuit);
    ASSERT_TRUE(WaitUntil([&] { return terminations.load() == 1; }));
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(5));
    EXPECT_EQ(Count("Job: JobTerminate"), 1u);
}

TEST_F(Controller, HandlersThatNeverAnswerAreGivenUpAfterTenSeconds) {
    Start(false);
    StartList("1302_221");
    const auto before = Clock::now();
    Post(CZORControl::ZQPEL_24, kQuit);
    ASSERT_TRUE(WaitUntil([&] { return terminations.load() == 1; }, 20000));
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(9500));
    EXPECT_TRUE(journal->DestroyedNames().empty());
    // A late TERMINATED still removes its handler and ends again.
    controller->PutSignal(std::make_unique<CPELSignal>(CZORControl::TERMINATED, nullptr), true);
    ASSERT_TRUE(WaitTrace("Job: JobHandlerTermResp"));
}

// ---- bridge restarts -----------------------------------------------------------

TEST_F(Controller, TideRestartDuringAKeelRestartRunsAfterIt) {
    Start();
    Post(CZORControl::ZQPEL_72, "$ZQPEL,72,\n\r");
    Post(CZORControl::ZQPEL_71, "$ZQPEL,71,\n\r");
    Post(CZORControl::R20, "$ZQR20=1302");
    // Never started: the first restart step starts each bridge at once.
    ASSERT_TRUE(WaitTrace("Job: JobHandleRemote", 15000));
    const auto lines = trace.Lines();
    std::vector<std::string> jobs;
    for (const auto& line : lines) {
        const size_t at = line.find("Job: Job");
        if (at != std::string::npos) jobs.push_back(line.substr(at + 5));
    }
    // R20 waits through both restarts.
    const std::vector<std::string> expected = {
        "JobPrepRestartKEEL", "JobRestartKeel",  "JobDisregardSig", "JobPrepRestartTIDE",
        "JobRestartTide",     "JobDisregardSig", "JobHandleRemote"};
    EXPECT_EQ(jobs, expected);
}

}  // namespace
