#pragma once

#include <functional>

// Runs release on a helper thread of its own and returns at once: for freeing objects
// whose destruction waits for work that no longer matters, such as an encoder's threads
// finishing the pictures they hold after a cancel. release must not touch files or
// anything its caller frees afterwards. The helper inherits the calling thread's
// priority. The process waits for every helper at exit, so nothing is left half freed.
void releaseInBackground(std::function<void()> release);
