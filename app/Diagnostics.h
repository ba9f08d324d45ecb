// Developer diagnostics: an assertion report with a fixed text. It never changes the flow.
#pragma once

#include <atldef.h>

#define DIAG(text) ::ATL::AtlAssertReport(L"" text, __FILE__, __LINE__)
