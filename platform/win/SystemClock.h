#pragma once
// The clock's class is the one Linux has; only how it is made differs.
#include "platform/posix/SystemClock.h"
