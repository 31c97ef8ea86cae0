#include "ProcessDatabase.h"

#include "DBoperations.h"

CDBoperations& ProcessDatabase() {
    static CDBoperations database("ZOR");
    return database;
}
