// The parts of the application kit this platform provides.
#pragma once

#include <AppKit/NSAlert.h>
