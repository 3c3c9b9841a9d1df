// The computer tools' public face: what the job loop hands an action to and
// gets back from (the browser, the desktop, page reading, the MCP client the
// plugins and the coding runs share, and the extension bridge).
#pragma once

#include "tools/bridge.h"
#include "tools/browser.h"
#include "tools/desktop.h"
#include "tools/mcp_stdio.h"
#include "tools/page_reading.h"
#include "tools/tool_types.h"
