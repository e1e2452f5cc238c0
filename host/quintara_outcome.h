// What only this plug-in's results mean, for the host program: which outcome is a failure, and
// the likely cause of a failed resize, as far as the host can tell it by itself.
#pragma once

#include <string>

#include "host/plugin_host.h"

// The resize command's usage after its name: every extension the plug-in writes, and those it
// refuses.
extern const char kResizeUsage[];

// "" when the run succeeded. Otherwise a one-line reason: the host library's own (no action run,
// no variable set), "the image could not be read" when the metrics are " 0" by " 0", or
// "Conversion Failed: " with the likely cause: "Conversion Failed: the source C:\a.jpg does not
// exist".
std::string QuintaraFailureReason(const ActionRun& run, const std::string& parameter);

// The likely cause of a failed resize of "[source]|[target]|[width]|[height]", looked for in the
// order the plug-in checks: names, extension, size, source, target. The fallback, when all of
// these look right, is that the source could not be read as an image.
std::string LikelyResizeCause(const std::string& parameter);
