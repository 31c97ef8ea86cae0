-- The demo suite's token database "zpel.db" (SQLite). Build it with
--   sqlite3 "<data folder>/zpel.db" < zpel-tokens.sql
-- or scripts in this folder (make-zpel-db.sh). Value ids share one range
-- across the three value tables: 1xx floating, 2xx integer, 3xx text.
-- Descriptions are looked up for language 3.

BEGIN;
DROP TABLE IF EXISTS token_value;
DROP TABLE IF EXISTS float_values;
DROP TABLE IF EXISTS integer_values;
DROP TABLE IF EXISTS varchar_values;
DROP TABLE IF EXISTS descriptions_language;
DROP TABLE IF EXISTS descriptions;

CREATE TABLE token_value (value_id INTEGER NOT NULL, token TEXT NOT NULL, description_id INTEGER);
CREATE TABLE float_values (id INTEGER PRIMARY KEY, value REAL);
CREATE TABLE integer_values (id INTEGER PRIMARY KEY, value INTEGER);
CREATE TABLE varchar_values (id INTEGER PRIMARY KEY, value TEXT);
CREATE TABLE descriptions_language (id INTEGER NOT NULL, language INTEGER NOT NULL, description_id INTEGER);
CREATE TABLE descriptions (id INTEGER PRIMARY KEY, description TEXT);

INSERT INTO float_values VALUES (101, 4.25), (102, 1.5);
INSERT INTO integer_values VALUES (201, 0), (202, 3), (203, 2);
INSERT INTO varchar_values VALUES (301, 'LDEM7'), (302, 'Demo Surveyor');

INSERT INTO token_value VALUES
  (101, 'VESSEL_DRAUGHT_M', 11),
  (102, 'RUNT_PARAM_GRID_CELL_FACTOR', 12),
  (201, 'RUNT_PARAM_RTCM_INIT_START_DISABLE', 21),
  (202, 'SSV_COM_PORT', 22),
  (203, 'RUNT_PARAM_SOUNDER_COUNT', 23),
  (301, 'VESSEL_CALLSIGN', 31),
  (302, 'VESSEL_NAME', 32);

-- Language 3 carries the texts the store reads; language 1 is another
-- language of the same token and must not be picked.
INSERT INTO descriptions_language VALUES
  (11, 3, 1011), (12, 3, 1012), (21, 3, 1021), (21, 1, 2021), (22, 3, 1022),
  (23, 3, 1023), (31, 3, 1031), (32, 3, 1032);
INSERT INTO descriptions VALUES
  (1011, 'Static draught of the vessel in metres'),
  (1012, 'Grid cell size factor applied by the grid engine'),
  (1021, 'Non-zero: do not start the RTCM and IMU loggers at start-up'),
  (2021, 'Nicht null: RTCM- und IMU-Logger beim Start nicht starten'),
  (1022, 'Serial port number of the surface sound velocity probe'),
  (1023, 'Number of echo sounders of the demo suite'),
  (1031, 'Radio call sign of the vessel'),
  (1032, 'Name of the vessel');
COMMIT;
