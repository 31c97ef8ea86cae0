#pragma once
// The table machine: a current state and a static table that gives, per
// state, the job and next state for each signal number, with a default row
// for all other numbers.
//
// A concrete machine `Owner` defines its table as static data, one array of
// rows per state plus the list of states, and exposes the list as
//     static const StateList kStateList;
// e.g.
//     const CMyFsm::Row CMyFsm::s_idleRows[] = {
//         // signal   next      job
//         {60000,     RUNNING,  &CMyFsm::JobStart},
//         {60001,     IDLE,     &CMyFsm::Save},
//     };
//     const CMyFsm::State CMyFsm::s_states[] = {
//         // name       default next  default job          rows
//         {"IDLE",      IDLE,         &CMyFsm::JobError,   Rows(s_idleRows)},
//         {"EMPTY",     IDLE,         &CMyFsm::JobError,   NoRows()},
//     };
//     const CMyFsm::StateList CMyFsm::kStateList = States(s_states);

#include <FsmBase.h>
#include <FsmTrace.h>
#include <LogTrace.h>
#include <SignalNames.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>

template <class Owner, class Signal>
class CFsm : public CFsmBase {
  public:
    using SignalSlot = std::unique_ptr<Signal>;
    using Job = void (Owner::*)(SignalSlot&);

    struct Row {
        int32_t signal;  // signal number
        int32_t next;    // 1-based next state
        Job job;
    };
    struct RowSpan {
        const Row* rows;
        int32_t count;
    };
    struct State {
        const char* name;
        int32_t defaultNext;
        Job defaultJob;
        RowSpan rows;
    };
    struct StateList {
        const State* states;
        int32_t count;
    };

    template <size_t N>
    static constexpr RowSpan Rows(const Row (&rows)[N]) {
        return RowSpan{rows, static_cast<int32_t>(N)};
    }
    static constexpr RowSpan NoRows() { return RowSpan{nullptr, 0}; }
    template <size_t N>
    static constexpr StateList States(const State (&states)[N]) {
        return StateList{states, static_cast<int32_t>(N)};
    }

    CFsm(const char* name, int32_t initialState, LogTrace* trace, uint8_t debugMask)
        : m_name(name != nullptr ? name : ""),
          m_nameTable(g_fsmSignalNames),
          m_trace(trace),
          m_traceFlags(fsm_trace::FlagsForMask(debugMask)) {
        m_states = &Owner::kStateList;
        CheckTableOnce(trace, m_name.c_str());
        m_currentState = initialState;
        if (!ValidState(initialState)) {
            TraceError("initial state %d out of range 1..%d, using 1", initialState,
                       m_states->count);
            m_currentState = 1;
        }
    }
    ~CFsm() override = default;

    CFsm(const CFsm&) = delete;
    CFsm& operator=(const CFsm&) = delete;

    // Handles one signal; returns whether the state changed. Only the
    // machine's worker thread calls it once the machine runs.
    bool Dispatch(SignalSlot& slot) {
        m_currentSignal = &slot;
        const int32_t number = slot ? slot->GetSignalNo() : 0;
        const int32_t from = m_currentState;
        const State& state = m_states->states[from - 1];

        Job job = state.defaultJob;
        int32_t next = state.defaultNext;
        bool matched = false;
        for (int32_t i = 0; i < state.rows.count; ++i) {
            const Row& row = state.rows.rows[i];
            if (row.signal == number) {
                job = row.job;
                next = row.next;
                matched = true;
                break;
            }
        }
        if (!ValidState(next)) next = from;  // reported once at construction

        if (m_trace != nullptr) {
            char name[fsm_trace::kSignalName] = "";
            if (m_traceFlags & FSM_TRACE_SIG) SignalName(number, name);
            if (fsm_trace::ComposeDispatch(m_traceLine, sizeof m_traceLine, m_traceFlags,
                                           m_name.c_str(), name, matched, state.name,
                                           m_states->states[next - 1].name) > 0) {
                m_trace->Append("%s", m_traceLine);
            }
        }

        if (job != nullptr) {
            try {
                (static_cast<Owner*>(this)->*job)(slot);
            } catch (const std::exception& e) {
                TraceError("job for %d in state %s threw: %s", number, state.name, e.what());
            } catch (...) {
                TraceError("job for %d in state %s threw", number, state.name);
            }
        }
        m_currentState = next;
        m_currentSignal = nullptr;
        return next != from;
    }

    char* SignalName(int32_t number, char* buffer) const {
        return FsmSignalName(m_nameTable, number, buffer, fsm_trace::kSignalName);
    }

    void TraceJob(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (m_trace == nullptr || !(m_traceFlags & FSM_TRACE_JOB)) return;
        va_list args;
        va_start(args, format);
        fsm_trace::Job(m_trace, m_traceFlags, m_name.c_str(), format, args);
        va_end(args);
    }
    void TraceData(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (m_trace == nullptr || !(m_traceFlags & FSM_TRACE_DATA)) return;
        va_list args;
        va_start(args, format);
        fsm_trace::Data(m_trace, m_traceFlags, m_name.c_str(), format, args);
        va_end(args);
    }

    int32_t CurrentState() const { return m_currentState; }
    const char* StateName(int32_t state) const {
        return ValidState(state) ? m_states->states[state - 1].name : "?";
    }
    const std::string& Name() const { return m_name; }
    LogTrace* Trace() const { return m_trace; }
    uint8_t TraceFlags() const { return m_traceFlags; }
    const FsmSignalNameRow* NameTable() const { return m_nameTable; }

  protected:
    // Errors of the framework itself: data lines, so they show with bit 8.
    void TraceError(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (m_trace == nullptr || !(m_traceFlags & FSM_TRACE_DATA)) return;
        char text[fsm_trace::kDataLine];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        fsm_trace::DataText(m_trace, m_traceFlags, m_name.c_str(), "\n\tERROR: %s", text);
    }

    bool ValidState(int32_t state) const { return state >= 1 && state <= m_states->count; }

    int32_t m_currentState = 1;
    const StateList* m_states = nullptr;
    std::string m_name;
    SignalSlot* m_currentSignal = nullptr;
    const FsmSignalNameRow* m_nameTable;
    LogTrace* m_trace;
    uint8_t m_traceFlags;
    char m_traceLine[fsm_trace::kDispatchLine] = {};

  private:
    // The tables are class data shared by every instance; they are checked
    // once, by the first instance, and read-only from then on. A next state
    // out of range is reported here and, at dispatch, leaves the state as is.
    static void CheckTableOnce(LogTrace* trace, const char* machine) {
        static std::once_flag once;
        std::call_once(once, [&] {
            const StateList& list = Owner::kStateList;
            auto report = [&](const char* stateName, int32_t signal, int32_t next) {
                if (trace == nullptr) return;
                trace->Append(
                    "*F: %-12.12s                      Data: \n\tERROR: state %s, "
                    "signal %d: next state %d out of range 1..%d",
                    machine, stateName, signal, next, list.count);
            };
            for (int32_t s = 0; s < list.count; ++s) {
                const State& st = list.states[s];
                if (st.defaultNext < 1 || st.defaultNext > list.count)
                    report(st.name, 0, st.defaultNext);
                for (int32_t r = 0; r < st.rows.count; ++r) {
                    const Row& row = st.rows.rows[r];
                    if (row.next < 1 || row.next > list.count)
                        report(st.name, row.signal, row.next);
                }
            }
        });
    }
};
