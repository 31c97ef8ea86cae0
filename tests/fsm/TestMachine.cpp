#include "TestMachine.h"

// clang-format off
const CTestFsm::Row CTestFsm::s_idleRows[] = {
    // signal       next      job
    {kStart,     RUNNING,  &CTestFsm::JobFirst},
    {kStart,     IDLE,     &CTestFsm::JobSecond},   // shadowed: never fires
    {kStay,      IDLE,     &CTestFsm::JobRecord},
    {kSaveA,    IDLE,     &CTestFsm::Save},
    {kSaveB,    IDLE,     &CTestFsm::Save},
    {kBlock,     IDLE,     &CTestFsm::JobBlock},
    {kNever,     IDLE,     &CTestFsm::JobNever},
    {kPost3,     IDLE,     &CTestFsm::JobPost3},
    {kThrow,     RUNNING,  &CTestFsm::JobThrow},
    {kHook,      IDLE,     &CTestFsm::JobHook},
    {60005,         IDLE,     &CTestFsm::JobKeep},
};

const CTestFsm::Row CTestFsm::s_runningRows[] = {
    // signal       next      job
    {kSaveA,    RUNNING,  &CTestFsm::JobRecord},
    {kSaveB,    RUNNING,  &CTestFsm::JobRecord},
    {kBlock,     RUNNING,  &CTestFsm::JobBlock},
    {kHook,      RUNNING,  &CTestFsm::JobHook},
};

const CTestFsm::State CTestFsm::s_states[] = {
    // name         default next  default job            rows
    {"IDLE",        IDLE,         &CTestFsm::JobDefault, Rows(s_idleRows)},
    {"RUNNING",     IDLE,         &CTestFsm::JobDefault, Rows(s_runningRows)},
    {"EMPTY",       RUNNING,      &CTestFsm::JobDefault, NoRows()},
};
// clang-format on

const CTestFsm::StateList CTestFsm::kStateList = States(CTestFsm::s_states);
