// The run modes of the application object.
#pragma once

const int RUN_MODE_NONE = 0;       // start-up has not begun
const int RUN_MODE_LAUNCHER = 1;   // show the launcher window
const int RUN_MODE_GAME = 2;       // show the game window
const int RUN_MODE_RESTART = 3;    // an update is in place: no window, relaunch at shutdown
