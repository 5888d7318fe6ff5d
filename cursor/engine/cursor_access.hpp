#pragma once

// The readers moved below the overlay, which needs them too.
#include "cursor/native/cursor_access.hpp"
