// Umbrella header of the audio data types.
#pragma once

#include <CoreAudio/CoreAudioTypes.h>
