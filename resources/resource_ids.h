#pragma once
// Identifiers of the resources that every build of the setup program carries.

// The application icon (icon group): window, taskbar and the "Programs" list.
#define TESSARYN_IDI_APPLICATION 101
