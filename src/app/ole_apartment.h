// The main thread's single-threaded apartment, with OLE: the browser
// controls' clipboard and drag and drop need OLE on their thread, which COM
// alone (CoInitialize) does not give.
#pragma once

#include <ole2.h>

class COleApartment {
public:
    COleApartment() : m_bJoined(SUCCEEDED(OleInitialize(nullptr))) {}
    ~COleApartment()
    {
        if (m_bJoined) OleUninitialize();
    }
    COleApartment(const COleApartment&) = delete;
    COleApartment& operator=(const COleApartment&) = delete;

private:
    bool m_bJoined;
};
