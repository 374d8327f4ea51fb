#include "platform/server_socket.h"

#include <cstdio>

std::string FormatDottedQuad(const void* address)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(address);
    char text[16];
    std::snprintf(text, sizeof(text), "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}
