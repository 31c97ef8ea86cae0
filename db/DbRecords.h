#pragma once
// The records the query catalogue fills. Texts are fixed-width fields: a
// value longer than its field arrives cut to the field's width, always
// zero-terminated.

#include <cstddef>

namespace dbwidth {
constexpr std::size_t kName = 99;   // process names, ip texts, comments
constexpr std::size_t kPath = 299;  // paths, argument strings, locations
constexpr std::size_t kVersionName = 199;
constexpr std::size_t kRsPort = 2;
constexpr std::size_t kShipParameter = 19;
constexpr std::size_t kMessage = 399;
}  // namespace dbwidth

// One row of zor_proc_param_drz_v.
struct DrzProcParams {
    int id = 0;
    char processname[dbwidth::kName + 1] = {};
    char drz_path[dbwidth::kPath + 1] = {};
    char drz_argument_str[dbwidth::kPath + 1] = {};
    int drz_send_socket_id = 0;
    int drz_recv_socket_id = 0;
};

// One row of zor_proc_param_xdrz_v.
struct XdrzProcParams {
    char processname[dbwidth::kName + 1] = {};
    char xdrz_path[dbwidth::kPath + 1] = {};
    char xdrz_argument_str[dbwidth::kPath + 1] = {};
    int xdrz_send_socket_id = 0;
    int xdrz_recv_socket_id = 0;
};

// One row of drz_all_parameters_v.
struct DrzAllParams {
    int soundertype = 0;
    int serialnumber = 0;
    char rawdata_location[dbwidth::kPath + 1] = {};
    char rawdata_location_structure[dbwidth::kPath + 1] = {};
    char file_name_structure[dbwidth::kPath + 1] = {};
    char comment[dbwidth::kName + 1] = {};
};

// One row of process_socket_v. The meaning of the integer codes belongs to
// the controller; the database layer only carries them.
struct ProcessSocket {
    int id = 0;
    char ip[dbwidth::kName + 1] = {};
    int port = 0;
    int udp_tcp = 0;
    int read_write = 0;
    int server_client = 0;
    int pid = 0;
};

// One row of rs2udp_parameters (the serial-to-UDP bridges).
struct Rs2UdpParams {
    int rs_pid = 0;
    char rs_path[dbwidth::kPath + 1] = {};
    char rs_argument_str[dbwidth::kPath + 1] = {};
    char rs_port[dbwidth::kRsPort + 1] = {};
    char comment[dbwidth::kPath + 1] = {};
};

// Path and argument string of an auxiliary process read per user.
struct AuxProcParams {
    char path[dbwidth::kPath + 1] = {};
    char argument_str[dbwidth::kPath + 1] = {};
};
