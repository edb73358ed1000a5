#pragma once

// The configuration subsystem: the pyproject reader, requirement coverage
// and the template comparison.

#include "tolvo/config/pyproject.hpp"
#include "tolvo/config/coverage.hpp"
