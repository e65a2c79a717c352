// The planned reboot that makes a new heap size take effect.
#ifndef MORVANTA_PLATFORM_RESTART_H
#define MORVANTA_PLATFORM_RESTART_H

// Enables the shutdown privilege and asks for a reboot of this computer;
// true when the platform accepted the request.
bool RestartSystem(void);

#endif
