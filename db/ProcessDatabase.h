#pragma once
// The process-wide database operations object ("ZOR"): start-up logs in with
// it, reads the suite version and registers the process; the controller's
// jobs use it afterwards, one at a time on its worker thread.

class CDBoperations;

// The data source and login of the suite database.
inline constexpr const char* kSuiteDsn = "ZPELDB";
inline constexpr const char* kSuiteUser = "peluser";
inline constexpr const char* kSuitePassword = "tolbex4";

// Created on first use and kept until the process ends.
CDBoperations& ProcessDatabase();
