// The zorbex plugin: its entry point, shared by the loadable module and by
// programs that register the plugin statically (tests, benchmarks).
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

gboolean zorbex_plugin_init(GstPlugin* plugin);

// Registers the plugin in this process without loading a module; call
// after gst_init.  TRUE on success or when already registered.
gboolean zorbex_plugin_register_static(void);

G_END_DECLS
