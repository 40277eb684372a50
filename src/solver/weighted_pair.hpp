#pragma once

// Moved to core/; kept for existing includes.
#include "core/weighted_pair.hpp"
