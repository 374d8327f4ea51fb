// Between CThread::Start, written once, and the platform's thread creation.
#pragma once

#include <memory>

#include "platform/thread.h"

// Runs and frees the body that CThread::Start handed to a new thread; each
// platform's thread entry calls it with the thread's argument.
void RunThreadBody(void* argument);

// Starts a thread that calls RunThreadBody(argument); null when it cannot.
std::unique_ptr<CThread> StartPlatformThread(void* argument);
