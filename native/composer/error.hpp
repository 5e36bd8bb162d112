#pragma once
// Umbrella for the core's error family.

#include "composer/diagnostics/record.hpp"
#include "composer/error/backtrace.hpp"
#include "composer/error/compose.hpp"
#include "composer/error/config.hpp"
#include "composer/error/display.hpp"
#include "composer/error/include.hpp"
#include "composer/error/recovery.hpp"
#include "composer/error/render.hpp"
#include "composer/error/resolve.hpp"
#include "composer/error/source.hpp"
#include "composer/error/validation.hpp"
