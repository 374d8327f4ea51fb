#include "server/http_protocol.h"

#include <cstdio>

bool IsHttpRequestComplete(const std::string& request)
{
    return request.size() >= 4 && request.compare(request.size() - 4, 4, "\r\n\r\n") == 0;
}

RequestLine ParseRequestLine(const std::string& request)
{
    RequestLine line;
    size_t space = request.find(' ');
    if (space == std::string::npos) return line;
    line.bValid = true;
    if (request.compare(0, space, "GET") != 0) {
        line.path = NOT_IMPLEMENTED_PATH;
        return line;
    }
    line.bGet = true;
    size_t end = request.find(' ', space + 1);
    line.path = request.substr(space + 1, end == std::string::npos ? std::string::npos : end - space - 1);
    return line;
}

bool AsksForKeepAlive(const std::string& request)
{
    return request.find("\nConnection: Keep-Alive") != std::string::npos;
}

std::string FormatHttpDate(int64_t unixSeconds)
{
    static const char* const DAYS[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static const char* const MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int64_t days = unixSeconds >= 0 ? unixSeconds / 86400 : (unixSeconds - 86399) / 86400;
    int64_t seconds = unixSeconds - days * 86400;
    int weekday = static_cast<int>(((days % 7) + 7) % 7);   // 1970-01-01 was a Thursday

    // Civil date from the day count (proleptic Gregorian calendar).
    int64_t z = days + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t dayOfEra = z - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    char text[128];
    std::snprintf(text, sizeof(text), "%s, %02d %s %lld %02d:%02d:%02d GMT", DAYS[weekday], day,
                  MONTHS[month - 1], static_cast<long long>(year), static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

ResponseHeader FormatResponseHeader(const char* status, const std::string& date, int32_t contentLength,
                                    bool bKeepAlive, const std::string& contentType)
{
    ResponseHeader header;
    int length = std::snprintf(header.text, sizeof(header.text),
                               "HTTP/1.0 %s\r\nDate: %s\r\nServer: %s\r\nAccept-Ranges: bytes\r\n"
                               "Content-Length: %d\r\nConnection: %s\r\nContent-Type: %s\r\n\r\n",
                               status, date.c_str(), SERVER_NAME, static_cast<int>(contentLength),
                               bKeepAlive ? "Keep-Alive" : "close", contentType.c_str());
    if (length > 0) {
        header.length = length < static_cast<int>(sizeof(header.text)) ? length
                                                                       : static_cast<int>(sizeof(header.text)) - 1;
    }
    return header;
}
