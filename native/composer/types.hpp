#pragma once
// Umbrella for the core's shared value types.

#include "composer/types/input_value.hpp"
#include "composer/types/names.hpp"
#include "composer/types/request.hpp"
