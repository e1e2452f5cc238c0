// The two text operations that need Windows: the wide form of a file name and the message box.
#pragma once

#include <string>

// The text converted from the ANSI code page with precomposed characters; "" for "" and when
// the conversion fails.
std::wstring ToWideText(const std::string& text);

// A modal message box (MessageBoxA) with no owner, one OK button and no icon; an empty caption
// shows as "Tessivar". Returns when the user has closed it (at once if it cannot be shown), with
// the plug-in's floating-point setting in place, whatever the message loop left.
void ShowMessage(const std::string& message, const std::string& caption);
