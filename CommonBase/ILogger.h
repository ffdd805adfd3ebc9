// The logging interface through which library code reports what it does.
// Loggers travel as boost::shared_ptr<ILogger>, which may be empty: callers
// test it before every call and log nothing then.
//
// Each build of the library brings its own form of ILogger in a
// BaseLogger.h of its own folder, which the build's target puts on the
// include path.
#pragma once

#include <boost/shared_ptr.hpp>

#include "BaseLogger.h"

typedef boost::shared_ptr<ILogger> LoggerPtr;
