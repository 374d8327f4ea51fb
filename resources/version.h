// The program's version, as the update check compares it (string 1016).
#pragma once
#define QUILLET_VERSION_COMMAS 1, 0, 5, 0
#define QUILLET_VERSION_TEXT "1.0.5"
