// The HTTP download client: the update check's version file and program
// download, and the resource cache's upstream fetches. Blocking calls; each
// opens and closes its own Internet handle, so any number of threads may use
// them at once. Addresses are plain HTTP URLs.
#pragma once

#include <cstdint>
#include <string>

#include "platform/http_transport.h"

class COutBuf;

// Result codes of FetchToBuffer and FetchWithHandle (2 is never returned).
const int FETCH_OK = 0;             // whole body, sink length == Content-Length
const int FETCH_OPEN_FAILED = 1;    // request not opened, or no Content-Length
const int FETCH_READ_FAILED = 3;    // a read failed, or the length differs
const int FETCH_OFFLINE = 4;        // system offline, or no Internet handle

// The largest program DownloadVerifiedFile takes: a longer announced length
// is refused before anything is allocated or read.
const uint32_t MAX_PROGRAM_DOWNLOAD_BYTES = 256u << 20;

// Reads the body at url (UTF-8) into dest, which holds nCapacity bytes, and
// returns the number of bytes stored; 0 on any failure. Writes no terminator
// and always leaves room for one: a body of nCapacity bytes or more is a
// failure (0), never cut, so a caller never acts on a partial text. A
// response without Content-Length fails.
uint32_t DownloadToMemory(const std::string& url, uint8_t* dest, uint32_t nCapacity,
                          IHttpTransport& transport = SystemHttpTransport());

// DownloadToMemory bounded in time: a body not whole within nDeadlineMs of
// the call is a failure (0), whatever the peer does (silent, unreachable,
// trickling). The download runs on a thread of its own into memory of its
// own; past the deadline the caller goes on, and the thread ends by itself
// within the transport's time-outs and low-speed bound, its body dropped.
// The transport must outlive that thread (the system's is never destroyed).
uint32_t DownloadToMemoryWithin(const std::string& url, uint8_t* dest, uint32_t nCapacity, uint32_t nDeadlineMs,
                                IHttpTransport& transport = SystemHttpTransport());

// Downloads url whole, checks it against expectedMd5 (32 hex digits, either
// case) and only then creates or replaces path with exactly that body, on
// the disk when it returns. False when anything fails, an announced length
// over MAX_PROGRAM_DOWNLOAD_BYTES included; the file is then untouched, or
// removed when it could not be written whole.
bool DownloadVerifiedFile(const std::string& url, const std::string& path, const char* expectedMd5,
                          IHttpTransport& transport = SystemHttpTransport());

// Fetches url (8-bit text) into sink (may be null: the body is discarded).
// The sink must be empty. filePath is not used. pnStatus, when given,
// receives the response's HTTP status code (0 when no response came).
int FetchToBuffer(const char* url, const char* filePath, COutBuf* sink, int* pnStatus = nullptr,
                  IHttpTransport& transport = SystemHttpTransport());

// The inner step of FetchToBuffer over an open Internet handle.
int FetchWithHandle(IHttpSession& session, const char* url, const char* filePath, COutBuf* sink,
                    int* pnStatus = nullptr);
