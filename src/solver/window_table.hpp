#pragma once

// Moved to core/; kept for existing includes.
#include "core/window_table.hpp"
