// PowerShell's console host with its usual parameters (-NoProfile, -File, ...).
return Microsoft.PowerShell.ConsoleShell.Start(null, null, args);
