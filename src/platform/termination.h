// Waiting for the request to end a console tool: SIGINT or SIGTERM on POSIX,
// a console control event on Windows.
#pragma once

// Call first in main, before any thread starts.
void PrepareForTermination();
// Blocks until the process is asked to end.
void WaitForTermination();
