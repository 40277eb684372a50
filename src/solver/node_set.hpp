#pragma once

// Moved to core/; kept for existing includes.
#include "core/node_set.hpp"
