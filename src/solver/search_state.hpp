#pragma once

// Moved to core/; kept for existing includes.
#include "core/search_state.hpp"
