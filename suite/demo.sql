-- A small demo suite: two echo sounders (types 1302 and 1602) with their
-- distribution processes, the auxiliary programs of the user "ZQ user",
-- the message texts ZOR reports, and the port allocator.
--
-- Placeholders replaced by make-suite-db:
--   @SUITE_BIN@  folder of the suite programs (the simulated peers)
--   @SUITE_DIR@  folder the database is created in
--
-- Receive ports of a sounder (type t, serial s): base P = 12000 for types
-- 1602/1603, 14000 for 1605, 15000 for 1604, else 10 * t + 10000; DRZ
-- listens on P + s + 1, XDRZ on P + s + 2, and ZOR's handler of the sounder
-- on P + s + 3.
--   1302/221: P = 23020 -> DRZ 23242, XDRZ 23243, handler 23244
--   1602/60:  P = 12000 -> DRZ 12061, XDRZ 12062, handler 12063

INSERT INTO pel_version (id, current_version, current_versionname)
VALUES (1, 742, 'PEL 7.4.2 demo');

-- ---- programs and their sockets -------------------------------------------

INSERT INTO process (pid, processname, description) VALUES
    (1,   'ZOR',             'control process'),
    (2,   'PELMAINAPP',      'operator GUI'),
    (20,  'XDRZ_GENERIC_VS', 'generic XDRZ vessel sensors'),
    (30,  'DPT',             'depth below keel sounder'),
    (31,  'SVP',             'sound velocity probe'),
    (101, 'DRZ_1302_221',    'DRZ of EM 1302 serial 221'),
    (102, 'XDRZ_1302_221',   'XDRZ of EM 1302 serial 221'),
    (103, 'DRZ_1602_60',     'DRZ of EM 1602 serial 60'),
    (104, 'XDRZ_1602_60',    'XDRZ of EM 1602 serial 60');

INSERT INTO socket (id, process_pid, ip, port, udp_tcp, read_write, server_client, peer_pid) VALUES
    -- the generic vessel-sensor sockets; the DPT read socket is the keel
    -- bridge's input
    (1,  20,  '127.0.0.1', 5601,  0, 1, 0, 30),
    (2,  20,  '127.0.0.1', 5602,  0, 2, 1, 30),
    (3,  20,  '127.0.0.1', 5611,  0, 1, 0, 31),
    -- distribution processes: receive (read) and send (write) sockets
    (11, 101, '127.0.0.1', 23242, 0, 1, 0, 1),
    (12, 101, '127.0.0.1', 23244, 0, 2, 1, 1),
    (13, 102, '127.0.0.1', 23243, 0, 1, 0, 1),
    (14, 102, '127.0.0.1', 23244, 0, 2, 1, 1),
    (15, 103, '127.0.0.1', 12061, 0, 1, 0, 1),
    (16, 103, '127.0.0.1', 12063, 0, 2, 1, 1),
    (17, 104, '127.0.0.1', 12062, 0, 1, 0, 1),
    (18, 104, '127.0.0.1', 12063, 0, 2, 1, 1);

-- ---- echo sounders -----------------------------------------------------------

INSERT INTO sounders (id, soundertype, serialnumber, description, rawdata_location,
                      rawdata_location_structure, file_name_structure, comment) VALUES
    (1, 1302, 221, 'EM 1302 hull unit', '@SUITE_DIR@/rawdata/1302_221',
     'survey/yyyy/mm/dd', 'counter_yyyymmdd_hhmmss_vessel', 'demo sounder, deep water'),
    (2, 1602, 60, 'EM 1602 pole mount', '@SUITE_DIR@/rawdata/1602_60',
     'survey/yyyy/mm/dd', 'counter_yyyymmdd_hhmmss_vessel', 'demo sounder, shallow water');

INSERT INTO distribution_process (id, sounder_id, kind, process_pid, path, argument_str,
                                  send_socket_id, recv_socket_id) VALUES
    (1, 1, 'DRZ',  101, '@SUITE_BIN@/drzdist.exe', '--port 23242 --answer-to 23244', 12, 11),
    (2, 1, 'XDRZ', 102, '@SUITE_BIN@/XDRZ.exe',    '--port 23243 --answer-to 23244', 14, 13),
    (3, 2, 'DRZ',  103, '@SUITE_BIN@/drzdist.exe', '--port 12061 --answer-to 12063', 16, 15),
    (4, 2, 'XDRZ', 104, '@SUITE_BIN@/XDRZ.exe',    '--port 12062 --answer-to 12063', 18, 17);

INSERT INTO inst_sounders (id, curr_conf_port, curr_port_incr, curr_conf_port_lim)
VALUES (1, 5000, 10, 6000);

-- ---- auxiliary programs ------------------------------------------------------

-- The bridge is the simulated bridge peer (it finds its port from
-- -confsock); the APPLANIX and SRH programs have no peer of their own, the
-- generic logger peer stands in for them.
INSERT INTO rs2udp_parameters (rs_pid, rs_path, rs_argument_str, rs_port, comment)
VALUES (1, '@SUITE_BIN@/RStoUDP.exe', '', '1', 'serial-to-UDP bridge');

INSERT INTO ship_parameters (id, ship_name, KeelComParams, LoggerComParams, TideComParams)
VALUES (1, 'RV Demo', 'COM3,9600,8,N,1', 'COM4,4800,8,N,1', 'COM5,9600,8,N,1');

INSERT INTO users (id, name) VALUES (1, 'ZQ user'), (2, 'Survey admin');

INSERT INTO ath_proc_param (id, ath_path, ath_argument_str)
VALUES (1, '@SUITE_BIN@/Tandlog.exe', '-role applanix');
INSERT INTO srh_proc_param (id, srh_path, srh_argument_str)
VALUES (1, '@SUITE_BIN@/Tandlog.exe', '-role srh');
INSERT INTO terratec_proc_param (id, terratec_path, terratec_argument_str)
VALUES (1, '@SUITE_BIN@/Kestlog.exe', '-role rtcm');

-- ---- operator messages (language 3) ----------------------------------------
-- The values each text takes: 431, 455, 456, 461 the sounder type as text
-- and the serial number; 433 the sentence; 581 one field; 582 two fields;
-- the others none.

INSERT INTO messages (number, lang, mess) VALUES
    (428, 3, 'The depth below keel serial-to-UDP bridge did not restart in time.'),
    (429, 3, 'The real-time tide serial-to-UDP bridge did not restart in time.'),
    (431, 3, 'No handler for echo sounder type %s, serial number %d.'),
    (433, 3, 'Garbled command sentence received: %s'),
    (447, 3, 'A serial-to-UDP bridge process could not be created.'),
    (455, 3, 'DRZ process parameters could not be read for echo sounder type %s, serial number %d.'),
    (456, 3, 'XDRZ process parameters could not be read for echo sounder type %s, serial number %d.'),
    (461, 3, 'DRZ raw-data parameters could not be read for echo sounder type %s, serial number %d.'),
    (466, 3, 'The DRZ process could not be created.'),
    (467, 3, 'The XDRZ process could not be created.'),
    (559, 3, 'The APPLANIX_CTRL process could not be created.'),
    (560, 3, 'The APPLANIX_CTRL process parameters could not be read.'),
    (572, 3, 'The SRH logger process could not be created.'),
    (573, 3, 'The SRH logger process parameters could not be read.'),
    (574, 3, 'The RTCM logger process could not be created.'),
    (575, 3, 'The RTCM logger process parameters could not be read.'),
    (581, 3, 'Port closed by %s.'),
    (582, 3, 'Port closed by %s: %s.');
