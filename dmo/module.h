// The module's count of live objects and server locks (DllCanUnloadNow).
#pragma once

void ModuleLock();
void ModuleUnlock();
