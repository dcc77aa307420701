#pragma once

#include "cli/HeadlessFrontEnd.h"

// The tests serve the port manager exactly as the command line does.
using TestFrontEnd = HeadlessFrontEnd;
