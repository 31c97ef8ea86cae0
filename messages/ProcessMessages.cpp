#include "ProcessMessages.h"

#include "Messages.h"

CMessages& ProcessMessages() {
    static CMessages messages;
    return messages;
}
