// The host's entries in the plug-in linked into a test program, undone when the scope ends.
#pragma once

#include "host/plugin_host.h"
#include "plugin/host_entries.h"

// The linked-in plug-in's host entries for the scope: the host program's SetVariableProc, which
// records into hostRecord (emptied), and nothing else.
struct ScopedHostEntries {
  HostEntries before = hostEntries;
  ScopedHostEntries() {
    hostEntries = HostEntries();
    hostEntries.setVariable = HostSetVariable;
    hostRecord = HostRecord();
  }
  ~ScopedHostEntries() { hostEntries = before; }
};
