#include "PortTable.h"

namespace {

struct PortRow {
    std::string_view name;
    uint16_t port;
};

constexpr PortRow kPorts[] = {
    {"ZOR_CMD", 4001},        {"IMULOGGER_DATA", 3011}, {"IMULOGGER_CMD", 5083},
    {"RTCMLOGGER_CMD", 5081}, {"VORANTE_CTRL", 5076},   {"VMBLOGGER_DATA", 3021},
    {"VMBLOGGER_CMD", 5093},  {"SPOLOGGER_DATA", 3041}, {"SPOLOGGER_CMD", 5094},
    {"APPLANIX_DATA", 5602},  {"APPLANIX_CMD", 5071},   {"SRHLOGGER_CMD", 1111},
    {"P2XLOGGER_CMD", 2222},  {"SSV_DATA", 5058},       {"SSV_CMD", 5055},
    {"SSV_RS", 5057},         {"SSV_RS_CONF", 5056},
};

}  // namespace

uint16_t PortOf(std::string_view name) {
    for (const PortRow& row : kPorts)
        if (row.name == name) return row.port;
    return 0;
}
