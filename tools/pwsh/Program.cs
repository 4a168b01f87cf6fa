// The pwsh console host: PowerShell's own entry point, so every argument means what it means to
// pwsh (-NoProfile, -File, -Command, -NonInteractive) and the exit code is the script's.
using Microsoft.PowerShell;

return UnmanagedPSEntry.Start(args, args.Length);
