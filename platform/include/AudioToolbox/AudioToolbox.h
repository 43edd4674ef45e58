// The audio toolbox: the Audio Unit interfaces plus the listener utilities.
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <AudioToolbox/AudioUnitUtilities.h>
