#pragma once
// Terminal modes of the standard input. Failures are written to the error
// stream and the call goes on; nothing is retried.

namespace Console {

// Raw keys: no line editing and no echo; signals from the keyboard stay on.
void SwitchToBinaryMode();
void SwitchToNonBlockMode();

}  // namespace Console
