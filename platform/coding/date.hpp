#pragma once

// The date type is the foundation layer's; coding keeps this name for its
// readers and writers.
#include "platform/foundation/date.hpp"
