#pragma once

// Moved to core/; kept for existing includes.
#include "core/focal_entry.hpp"
