#pragma once
#include <windows.h>

HRESULT RegisterFlashStandIn();
HRESULT UnregisterFlashStandIn();
