// The platform layer's way to complete an error message: the runtime's error state installs
// its setter here at start-up, and platform functions that return a code with an argument
// (a path, a port name) store that argument through it.
#pragma once

using qmErrorArgumentSetter = void (*)(const char *text);

void InstallErrorArgumentSetter(qmErrorArgumentSetter setter);
// Does nothing until a setter is installed.
void SetPlatformErrorArgument(const char *text);
