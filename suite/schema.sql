-- The PEL suite database: the tables a suite administrator maintains and
-- the views the control process ZOR reads through the ODBC data source
-- "ZPELDB". Process names are stored in upper case; ZOR looks them up with
-- upper(...).

PRAGMA foreign_keys = ON;

-- Schema version; the newest version is the last row.
CREATE TABLE pel_version (
    id                  INTEGER PRIMARY KEY,
    current_version     INTEGER NOT NULL,
    current_versionname TEXT NOT NULL
);

-- Operator message texts, printf-style, one per number and language.
CREATE TABLE messages (
    number INTEGER NOT NULL,
    lang   INTEGER NOT NULL,
    mess   TEXT NOT NULL,
    PRIMARY KEY (number, lang)
);

-- Messages raised, read by the operator GUI. The two rows of one report
-- share dateYYYYMMDD and millisecSinceMidnight.
CREATE TABLE arrivedMessages (
    id                    INTEGER PRIMARY KEY,
    dateYYYYMMDD          INTEGER NOT NULL,
    millisecSinceMidnight INTEGER NOT NULL,
    number                INTEGER NOT NULL
);
CREATE INDEX arrivedMessages_time ON arrivedMessages (dateYYYYMMDD, millisecSinceMidnight);

CREATE TABLE arrivedMessagesString (
    id                    INTEGER PRIMARY KEY,
    dateYYYYMMDD          INTEGER NOT NULL,
    millisecSinceMidnight INTEGER NOT NULL,
    lang                  INTEGER NOT NULL,
    mess                  TEXT NOT NULL
);
CREATE INDEX arrivedMessagesString_time
    ON arrivedMessagesString (dateYYYYMMDD, millisecSinceMidnight);

-- The programs of the suite. pid is the program's key in this database
-- (not an operating-system process id).
CREATE TABLE process (
    pid         INTEGER PRIMARY KEY,
    processname TEXT NOT NULL UNIQUE,
    description TEXT NOT NULL DEFAULT ''
);

-- Operating-system process ids of the running programs, one row per name.
CREATE TABLE pid_list (
    pid       INTEGER NOT NULL,
    proc_name TEXT NOT NULL
);
CREATE INDEX pid_list_name ON pid_list (proc_name);

-- UDP/TCP endpoints a program uses. peer_pid is the program at the other
-- end. Codes: udp_tcp 0 = UDP, 1 = TCP; read_write 1 = read, 2 = write;
-- server_client 0 = server, 1 = client.
CREATE TABLE socket (
    id            INTEGER PRIMARY KEY,
    process_pid   INTEGER NOT NULL REFERENCES process (pid),
    ip            TEXT NOT NULL DEFAULT '127.0.0.1',
    port          INTEGER NOT NULL,
    udp_tcp       INTEGER NOT NULL DEFAULT 0,
    read_write    INTEGER NOT NULL DEFAULT 1,
    server_client INTEGER NOT NULL DEFAULT 0,
    peer_pid      INTEGER REFERENCES process (pid)
);

-- The multibeam echo sounders installed, with where their raw data goes.
CREATE TABLE sounders (
    id                         INTEGER PRIMARY KEY,
    soundertype                INTEGER NOT NULL,
    serialnumber               INTEGER NOT NULL,
    description                TEXT NOT NULL DEFAULT '',
    rawdata_location           TEXT NOT NULL DEFAULT '',
    rawdata_location_structure TEXT NOT NULL DEFAULT '',
    file_name_structure        TEXT NOT NULL DEFAULT '',
    comment                    TEXT NOT NULL DEFAULT '',
    UNIQUE (soundertype, serialnumber)
);

-- The two distribution processes of each sounder: kind 'DRZ' (drzdist)
-- and 'XDRZ'.
CREATE TABLE distribution_process (
    id             INTEGER PRIMARY KEY,
    sounder_id     INTEGER NOT NULL REFERENCES sounders (id),
    kind           TEXT NOT NULL CHECK (kind IN ('DRZ', 'XDRZ')),
    process_pid    INTEGER NOT NULL REFERENCES process (pid),
    path           TEXT NOT NULL,
    argument_str   TEXT NOT NULL DEFAULT '',
    send_socket_id INTEGER REFERENCES socket (id),
    recv_socket_id INTEGER REFERENCES socket (id),
    UNIQUE (sounder_id, kind)
);

-- Port allocation for sounder configuration sockets: the next port, the
-- step and the limit above which the next port wraps.
CREATE TABLE inst_sounders (
    id                 INTEGER PRIMARY KEY,
    curr_conf_port     INTEGER NOT NULL,
    curr_port_incr     INTEGER NOT NULL,
    curr_conf_port_lim INTEGER NOT NULL
);

-- The serial-to-UDP bridge program; its first row serves every bridge.
CREATE TABLE rs2udp_parameters (
    rs_pid          INTEGER PRIMARY KEY,
    rs_path         TEXT NOT NULL,
    rs_argument_str TEXT NOT NULL DEFAULT '',
    rs_port         TEXT NOT NULL DEFAULT '',
    comment         TEXT NOT NULL DEFAULT ''
);

-- Vessel settings, one row. The COM parameter texts select the serial
-- port of each bridge; an empty text means the bridge is not wanted.
CREATE TABLE ship_parameters (
    id              INTEGER PRIMARY KEY,
    ship_name       TEXT NOT NULL DEFAULT '',
    KeelComParams   TEXT NOT NULL DEFAULT '',
    LoggerComParams TEXT NOT NULL DEFAULT '',
    TideComParams   TEXT NOT NULL DEFAULT ''
);

-- Suite users and the auxiliary programs configured per user.
CREATE TABLE users (
    id   INTEGER PRIMARY KEY,
    name TEXT NOT NULL UNIQUE
);

CREATE TABLE ath_proc_param (
    id               INTEGER PRIMARY KEY REFERENCES users (id),
    ath_path         TEXT NOT NULL,
    ath_argument_str TEXT NOT NULL DEFAULT ''
);

CREATE TABLE srh_proc_param (
    id               INTEGER PRIMARY KEY REFERENCES users (id),
    srh_path         TEXT NOT NULL,
    srh_argument_str TEXT NOT NULL DEFAULT ''
);

CREATE TABLE terratec_proc_param (
    id                    INTEGER PRIMARY KEY REFERENCES users (id),
    terratec_path         TEXT NOT NULL,
    terratec_argument_str TEXT NOT NULL DEFAULT ''
);

-- ---- views read by ZOR ----------------------------------------------------

CREATE VIEW zor_proc_param_drz_v AS
SELECT d.id             AS id,
       p.processname    AS processname,
       d.path           AS drz_path,
       d.argument_str   AS drz_argument_str,
       d.send_socket_id AS drz_send_socket_id,
       d.recv_socket_id AS drz_recv_socket_id,
       s.soundertype    AS soundertype,
       s.serialnumber   AS serialnumber
FROM distribution_process d
JOIN sounders s ON s.id = d.sounder_id
JOIN process p ON p.pid = d.process_pid
WHERE d.kind = 'DRZ';

CREATE VIEW zor_proc_param_xdrz_v AS
SELECT d.id             AS id,
       p.processname    AS processname,
       d.path           AS xdrz_path,
       d.argument_str   AS xdrz_argument_str,
       d.send_socket_id AS xdrz_send_socket_id,
       d.recv_socket_id AS xdrz_recv_socket_id,
       s.soundertype    AS soundertype,
       s.serialnumber   AS serialnumber
FROM distribution_process d
JOIN sounders s ON s.id = d.sounder_id
JOIN process p ON p.pid = d.process_pid
WHERE d.kind = 'XDRZ';

-- Raw-data settings of a sounder, found by the name of its DRZ process.
CREATE VIEW drz_all_parameters_v AS
SELECT s.soundertype                AS soundertype,
       s.serialnumber               AS serialnumber,
       s.rawdata_location           AS rawdata_location,
       s.rawdata_location_structure AS rawdata_location_structure,
       s.file_name_structure        AS file_name_structure,
       s.comment                    AS comment,
       p.processname                AS processname
FROM sounders s
JOIN distribution_process d ON d.sounder_id = s.id AND d.kind = 'DRZ'
JOIN process p ON p.pid = d.process_pid;

-- The sockets of each program; pid is the program at the other end.
CREATE VIEW process_socket_v AS
SELECT k.id            AS id,
       k.ip            AS ip,
       k.port          AS port,
       k.udp_tcp       AS udp_tcp,
       k.read_write    AS read_write,
       k.server_client AS server_client,
       k.peer_pid      AS pid,
       p.processname   AS processname
FROM socket k
JOIN process p ON p.pid = k.process_pid
ORDER BY k.id;
