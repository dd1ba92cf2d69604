// Invariant checks of the framework that stop the process with a fixed
// message text and function name, as the module's field diagnostics expect.
// Internal to framework/.
#pragma once

#include <assert.h>

#define SP_ASSERT(cond, text, function)                  \
  do {                                                   \
    if (!(cond)) __assert_fail(text, __FILE__, __LINE__, function); \
  } while (0)
