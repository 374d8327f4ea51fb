#include "app/input_forwarding.h"

bool IsForwardedInputMessage(unsigned int message)
{
    return (message >= 0x0100 && message <= 0x0109) || (message >= 0x0200 && message <= 0x020D);
}
