#pragma once

// Moved to core/; kept for existing includes.
#include "core/plugin_base.hpp"
