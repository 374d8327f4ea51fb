// Which messages the game phase's loop offers to the browser host before it
// dispatches them.
#pragma once

// Keyboard (0x0100..0x0109) and mouse (0x0200..0x020D) messages.
bool IsForwardedInputMessage(unsigned int message);
