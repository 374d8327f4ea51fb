#include "server/server_response.h"

#include <chrono>
#include <thread>

namespace {

constexpr int REMOVAL_TRIES = 20;
constexpr std::chrono::milliseconds REMOVAL_PAUSE(50);

}  // namespace

void CServerResponse::OnFileUnreadable()
{
    if (!m_pFile) return;
    for (int attempt = 1; !RemoveFile(m_pFile->Path()) && attempt < REMOVAL_TRIES; ++attempt) {
        std::this_thread::sleep_for(REMOVAL_PAUSE);
    }
}
