// CursorAccess is built with the native folder (cursor/native/cursor_access.cpp),
// where the overlay can reach it; this unit only keeps the engine's include path.
#include "cursor/engine/cursor_access.hpp"
