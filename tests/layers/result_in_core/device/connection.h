// The core must not speak the host's result records, even without the header.
#pragma once

struct PluginResult;
PluginResult connect();
