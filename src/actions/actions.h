// The plug-in's two actions as plain functions: the parameter text in, one imaging call, and out
// the host variables to set, in the order they are set. They know nothing of the host's calling
// convention, floating-point state or exceptions; the exported entry points add that.
#pragma once

#include <string>
#include <vector>

struct HostAssignment {
  std::string name, value;
};
typedef std::vector<HostAssignment> HostAssignments;

// "[source]|[target]|[width]|[height]": resizes, and answers one assignment of "ae_ResizeImage",
// "The file was converted succesfully" or "Conversion Failed" (also when memory ran out on the
// way). "a.jpg|b.png|200|100" -> {{"ae_ResizeImage", "The file was converted succesfully"}}.
HostAssignments ResizeAction(const std::string& parameter);

// "[ImageName]", the whole text, untrimmed: answers "AE_Image_Width" and "AE_Image_Height" as
// numbers in the host's form (" 640", " 480"; " 0" for a file that does not load). A blank name
// answers nothing; so does a GDI+ that will not start, after the message box
// "Error initializando GDI+".
HostAssignments ImageMetricsAction(const std::string& parameter);
