#pragma once

// Moved to core/; kept for existing includes.
#include "core/solver_agent.hpp"
