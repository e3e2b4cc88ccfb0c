// Video decoder plug-ins as sources of the video engine.
#pragma once

#include "media/videocore/videosource.h"

struct qmFormatPlugins;

// The source record of every plug-in-decoded video; its open takes nothing (files reach the
// plug-ins through OpenPluginVideoSource).
extern const qmVideoSourceOps kPluginVideoSource;
// The loaded video plug-ins in load order are offered the file: the first that takes it, as a
// handle of kPluginVideoSource with info filled; null when none does (plugins may be null), or
// when it decodes planar frames, which the engine takes from no plug-in.
void *OpenPluginVideoSource(const qmFormatPlugins *plugins, const char *path, qmVideoInfo *info);
