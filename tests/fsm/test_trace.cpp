#include "TestMachine.h"
